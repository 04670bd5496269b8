#pragma once
// An empty settings store of its own for as long as it lives.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QTemporaryDir>
#include <QtGlobal>

namespace kestrel::test {

class CScopedStore {
public:
    CScopedStore() : m_oldConfigHome(qgetenv("XDG_CONFIG_HOME"))
    {
        EXPECT_TRUE(m_dir.isValid());
        qputenv("XDG_CONFIG_HOME", m_dir.path().toUtf8());
    }
    ~CScopedStore() { qputenv("XDG_CONFIG_HOME", m_oldConfigHome); }
    CScopedStore(const CScopedStore&) = delete;
    CScopedStore& operator=(const CScopedStore&) = delete;

    QString Path() const { return m_dir.path(); }

private:
    QByteArray m_oldConfigHome;
    QTemporaryDir m_dir;
};

}  // namespace kestrel::test
