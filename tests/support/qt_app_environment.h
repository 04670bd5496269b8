#pragma once
// One QApplication for a whole widget test program, made before its first test and gone
// after its last. Register it once per program:
//     const auto* const g_pQtApp = ::testing::AddGlobalTestEnvironment(new CQtAppEnvironment);

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

namespace kestrel {

class CQtAppEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        m_pApp = std::make_unique<QApplication>(m_nArgc, m_argv);
        Prepare(*m_pApp);
    }
    void TearDown() override { m_pApp.reset(); }

protected:
    // What a test program needs of the application beyond its existence.
    virtual void Prepare(QApplication&) {}

private:
    int m_nArgc = 1;
    char m_szName[8] = "kestrel";
    char* m_argv[2] = {m_szName, nullptr};
    std::unique_ptr<QApplication> m_pApp;
};

}  // namespace kestrel
