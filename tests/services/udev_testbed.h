#pragma once
// A umockdev test bed for each test. Its devices reach only a program that runs under
// umockdev-wrapper, whose preload library shows them to libudev; elsewhere the tests skip.

#include <gtest/gtest.h>
#include <umockdev.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace kestrel::test {

class CUdevTestbedTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* pszPreload = std::getenv("LD_PRELOAD");
        if (!pszPreload || std::string(pszPreload).find("umockdev") == std::string::npos)
            GTEST_SKIP() << "run me under umockdev-wrapper";
        m_pTestbed = umockdev_testbed_new();
    }
    void TearDown() override
    {
        if (m_pTestbed) g_object_unref(m_pTestbed);
    }

    // The sysfs path of a new device below the parent ("" for none), with sysfs attributes and
    // udev properties given as name, value, name, value...
    std::string AddDeviceUnder(const std::string& strParent, const char* pszSubsystem, const char* pszName,
                               std::vector<const char*> attributes, std::vector<const char*> properties)
    {
        attributes.push_back(nullptr);
        properties.push_back(nullptr);
        gchar* pszSysPath = umockdev_testbed_add_devicev(m_pTestbed, pszSubsystem, pszName,
                                                         strParent.empty() ? nullptr : strParent.c_str(),
                                                         const_cast<gchar**>(attributes.data()), const_cast<gchar**>(properties.data()));
        EXPECT_NE(pszSysPath, nullptr) << pszName;
        std::string strSysPath = pszSysPath ? pszSysPath : "";
        g_free(pszSysPath);
        return strSysPath;
    }

    UMockdevTestbed* m_pTestbed = nullptr;
};

}  // namespace kestrel::test
