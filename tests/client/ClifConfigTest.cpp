// What the client reads from CLIClientConfig.cfg but never shows on its own: the
// CMS name, a missing URL key, line-end values and the search-path helper.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "ClifParser.h"

namespace
{

// A private directory tree, removed at the end of the test.
class TempDir
{
public:
    TempDir()
    {
        char pattern[] = "/tmp/clifconfigXXXXXX";
        myPath = mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(myPath); }
    const std::string& path() const { return myPath; }
    std::string write(const std::string& name, const std::string& text) const
    {
        std::string file = myPath + "/" + name;
        std::ofstream(file) << text;
        return file;
    }
    std::string mkdir(const std::string& name) const
    {
        std::string dir = myPath + "/" + name;
        ::mkdir(dir.c_str(), 0755);
        return dir;
    }

private:
    std::string myPath;
};

// Runs the configuration readers against a file in a directory of our own.
class ClifConfigTest : public testing::Test
{
protected:
    // The tests change these variables; each test gets them back as they were.
    void SetUp() override
    {
        for (const char* name : {"PATH", "LC_ALL", "DTFLANG", "CWD", "TZ"})
        {
            const char* value = std::getenv(name);
            mySavedEnv[name] = value ? std::make_pair(true, std::string(value)) : std::make_pair(false, std::string());
        }
    }
    void TearDown() override
    {
        for (const auto& saved : mySavedEnv)
        {
            if (saved.second.first)
                setenv(saved.first.c_str(), saved.second.second.c_str(), 1);
            else
                unsetenv(saved.first.c_str());
        }
    }
    void useConfig(const std::string& text)
    {
        myDir.write("CLIClientConfig.cfg", text);
        s_CLIConfigDirectory = myDir.path() + "/";
    }
    int readUrls()
    {
        testing::internal::CaptureStdout();
        int status = myInvoker.readUrls();
        myOutput = testing::internal::GetCapturedStdout();
        return status;
    }

    std::map<std::string, std::pair<bool, std::string>> mySavedEnv;
    TempDir myDir;
    ClifCmdInvoker myInvoker;
    std::string myOutput;
};

} // namespace

TEST_F(ClifConfigTest, AddSlash)
{
    EXPECT_EQ("/", myInvoker.addSlash(static_cast<const char*>(nullptr)));
    EXPECT_EQ("/", myInvoker.addSlash(""));
    EXPECT_EQ("a/", myInvoker.addSlash("a"));
    EXPECT_EQ("a/", myInvoker.addSlash(std::string("a/")));
}

TEST_F(ClifConfigTest, MissingKeyLeavesItsUrlEmpty)
{
    useConfig("clifserviceurl=https://cms/clif");
    EXPECT_EQ(0, readUrls());
    EXPECT_EQ("", myInvoker.logonUrl());
    EXPECT_EQ("https://cms/clif", myInvoker.invokeUrl());
}

TEST_F(ClifConfigTest, CmsFromTheFirstCmsWord)
{
    useConfig("x cms=first cms=second");
    myInvoker.fillCms();
    EXPECT_EQ("first", myInvoker.cms());

    // Only the first word beginning with "cms" counts; one that is no cms entry
    // leaves the local machine as the CMS.
    useConfig("cmsname cms=later");
    ClifCmdInvoker other;
    other.fillCms();
    char host[256];
    gethostname(host, sizeof host);
    EXPECT_EQ(host, other.cms());
}

TEST_F(ClifConfigTest, CmsFromTheHostWhenTheFileIsMissing)
{
    s_CLIConfigDirectory = myDir.path() + "/";
    testing::internal::CaptureStdout();
    myInvoker.fillCms();
    EXPECT_EQ("Unable to open config file; using local machine instead...\n", testing::internal::GetCapturedStdout());
    char host[256];
    gethostname(host, sizeof host);
    EXPECT_EQ(host, myInvoker.cms());
}

TEST_F(ClifConfigTest, LineEndValues)
{
    const char* cases[][2] = {{"LINE_END=\\n", "\n"}, {"LINE_END=LF", "LF"}, {"LINE_END=", ""}};
    for (auto& c : cases)
    {
        useConfig(c[0]);
        ClifCmdInvoker invoker;
        invoker.fillEnvmap();
        EXPECT_EQ(c[1], invoker.envMap().at("LINE_END")) << c[0];
    }
}

TEST_F(ClifConfigTest, WithoutTheFileNoCwdIsSet)
{
    unsetenv("CWD");
    s_CLIConfigDirectory = myDir.path() + "/";
    myInvoker.fillEnvmap();
    EXPECT_EQ(0u, myInvoker.envMap().count("CWD"));
    EXPECT_EQ("\n", myInvoker.envMap().at("LINE_END"));
}

TEST_F(ClifConfigTest, SearchPathPieces)
{
    std::string bin = myDir.mkdir("bin");
    myDir.write("bin/velnode", "");
    setenv("PATH", ("/nonexistent::" + bin + ":").c_str(), 1);
    EXPECT_EQ(bin + "/", myInvoker.findDirInPath("velnode"));
    EXPECT_EQ("", myInvoker.findDirInPath("no-such-program-here"));
    unsetenv("PATH");
    EXPECT_EQ("", myInvoker.findDirInPath("velnode"));
}
