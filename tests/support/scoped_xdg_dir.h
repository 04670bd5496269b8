#pragma once
// A fresh, empty folder named by an XDG variable (XDG_CONFIG_HOME, XDG_DATA_HOME) for as long
// as it lives; the variable is put back afterwards.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QTemporaryDir>
#include <QtGlobal>

namespace kestrel::test {

class CScopedXdgDir {
public:
    explicit CScopedXdgDir(const char* pszVariable) : m_pszVariable(pszVariable), m_oldValue(qgetenv(pszVariable))
    {
        EXPECT_TRUE(m_dir.isValid());
        qputenv(m_pszVariable, m_dir.path().toUtf8());
    }
    ~CScopedXdgDir() { qputenv(m_pszVariable, m_oldValue); }
    CScopedXdgDir(const CScopedXdgDir&) = delete;
    CScopedXdgDir& operator=(const CScopedXdgDir&) = delete;

    QString Path() const { return m_dir.path(); }

private:
    const char* m_pszVariable;
    QByteArray m_oldValue;
    QTemporaryDir m_dir;
};

}  // namespace kestrel::test
