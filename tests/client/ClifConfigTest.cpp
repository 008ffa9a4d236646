// Configuration directory, CLIClientConfig.cfg and the environment map.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "ClifParser.h"

namespace {

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
        for (const char* name : {"PATH", "LC_ALL", "DTFLANG", "CWD", "TZ"}) {
            const char* value = std::getenv(name);
            mySavedEnv[name] = value ? std::make_pair(true, std::string(value)) : std::make_pair(false, std::string());
        }
    }
    void TearDown() override
    {
        for (const auto& saved : mySavedEnv) {
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

TEST_F(ClifConfigTest, DirectoryFromAPath)
{
    EXPECT_EQ("/opt/vel/bin/../bin/", myInvoker.getCLIConfigDirectory("/opt/vel/bin/velnode"));
    EXPECT_EQ("./../bin/", myInvoker.getCLIConfigDirectory("./velnode"));
    EXPECT_EQ("/../bin/", myInvoker.getCLIConfigDirectory("/velnode"));
}

TEST_F(ClifConfigTest, DirectoryFromTheSearchPathWithEmptyPieces)
{
    std::string bin = myDir.mkdir("bin");
    myDir.write("bin/velnode", "");
    setenv("PATH", ("/nonexistent::" + bin + ":").c_str(), 1);
    EXPECT_EQ(bin + "/../bin/", myInvoker.getCLIConfigDirectory("velnode"));
    EXPECT_EQ(bin + "/", myInvoker.findDirInPath("velnode"));
    EXPECT_EQ("", myInvoker.findDirInPath("no-such-program-here"));
}

TEST_F(ClifConfigTest, DirectoryFromTheWorkingDirectory)
{
    setenv("PATH", "/nonexistent", 1);
    char cwd[1024];
    ASSERT_TRUE(getcwd(cwd, sizeof cwd));
    ASSERT_EQ(0, chdir(myDir.path().c_str()));
    std::string dir = myInvoker.getCLIConfigDirectory("velnode");
    ASSERT_EQ(0, chdir(cwd));
    EXPECT_EQ(myDir.path() + "/../bin/", dir);

    unsetenv("PATH");
    EXPECT_EQ("", myInvoker.findDirInPath("velnode"));
}

TEST_F(ClifConfigTest, AddSlash)
{
    EXPECT_EQ("/", myInvoker.addSlash(static_cast<const char*>(nullptr)));
    EXPECT_EQ("/", myInvoker.addSlash(""));
    EXPECT_EQ("a/", myInvoker.addSlash("a"));
    EXPECT_EQ("a/", myInvoker.addSlash(std::string("a/")));
}

TEST_F(ClifConfigTest, UrlEntriesFollowTheWordRules)
{
    useConfig("velpimainurl=first\n  junk clifserviceurl = x clifserviceurlX=y\n"
              "clifserviceurl=https://h:1/a=b\tvelpimainurl=second\n");
    EXPECT_EQ(0, readUrls());
    EXPECT_EQ("", myOutput);
    EXPECT_EQ("second", myInvoker.logonUrl());
    EXPECT_EQ("https://h:1/a=b", myInvoker.invokeUrl());
}

TEST_F(ClifConfigTest, MissingKeyLeavesItsUrlEmpty)
{
    useConfig("clifserviceurl=https://cms/clif");
    EXPECT_EQ(0, readUrls());
    EXPECT_EQ("", myInvoker.logonUrl());
    EXPECT_EQ("https://cms/clif", myInvoker.invokeUrl());
}

TEST_F(ClifConfigTest, MissingFileGivesItsErrorNumber)
{
    s_CLIConfigDirectory = myDir.path() + "/";
    EXPECT_EQ(2, readUrls());
    EXPECT_EQ("Could not read the URL's to logon to server and invoke commands\n", myOutput);
}

TEST_F(ClifConfigTest, CmsFromTheFirstCmsWord)
{
    useConfig("x cms=first cms=second");
    myInvoker.fillCms();
    EXPECT_EQ("first", myInvoker.cms());
}

TEST_F(ClifConfigTest, CmsFromTheHostWhenTheFileIsMissing)
{
    s_CLIConfigDirectory = myDir.path() + "/";
    testing::internal::CaptureStdout();
    myInvoker.fillCms();
    EXPECT_EQ("Unable to open config file; using local machine instead...\n",
              testing::internal::GetCapturedStdout());
    char host[256];
    gethostname(host, sizeof host);
    EXPECT_EQ(host, myInvoker.cms());
}

TEST_F(ClifConfigTest, EnvironmentMapSourcesInOrder)
{
    useConfig("LINE_END=\\r\\n LOCALE=xx_YY ENCODING=enc1 ENCODING=enc2");
    setenv("LC_ALL", "C", 1);
    setenv("CWD", "/from/caller", 1);
    setenv("TZ", "Caller/Zone", 1);
    unsetenv("DTFLANG");
    char argv0[] = "velnode", env[] = "--env", tz[] = "TZ=UTC", tz2[] = "TZ=GMT", enc[] = "ENCODING=env";
    char* argv[] = {argv0, env, tz, env, tz2, env, enc, nullptr};
    ASSERT_EQ(0, myInvoker.parseCommandLine(7, argv));
    s_CLIConfigDirectory = myDir.path() + "/";

    myInvoker.fillEnvmap();
    const ClifCmdInvoker::EnvMap& map = myInvoker.envMap();
    EXPECT_EQ("UTC", map.at("TZ"));
    EXPECT_EQ("\r\n", map.at("LINE_END"));
    EXPECT_EQ("xx_YY", map.at("LOCALE"));
    EXPECT_EQ("env", map.at("ENCODING"));
    char cwd[511];
    ASSERT_TRUE(getcwd(cwd, sizeof cwd));
    EXPECT_EQ(myInvoker.addSlash(cwd), map.at("CWD"));
}

TEST_F(ClifConfigTest, LineEndValues)
{
    const char* cases[][2] = {{"LINE_END=\\n", "\n"}, {"LINE_END=LF", "LF"}, {"LINE_END=", ""}};
    for (auto& c : cases) {
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

TEST_F(ClifConfigTest, CLocaleIsReportedAsEnglishUtf8)
{
    setenv("LC_ALL", "C", 1);
    myInvoker.getLocalEnvMap();
    EXPECT_EQ("en_US", myInvoker.envMap().at("LOCALE"));
    EXPECT_EQ("UTF-8", myInvoker.envMap().at("ENCODING"));

    // A locale the system does not know counts as "C".
    setenv("LC_ALL", "xx_NOWHERE.none", 1);
    myInvoker.getLocalEnvMap();
    EXPECT_EQ("en_US", myInvoker.envMap().at("LOCALE"));
    EXPECT_EQ("UTF-8", myInvoker.envMap().at("ENCODING"));
}

TEST_F(ClifConfigTest, DtflangComesLastWithoutDefaults)
{
    struct Case {
        const char* dtflang;
        const char* locale;
        const char* encoding;
    } cases[] = {{"ja_JP.eucJP", "ja_JP", "eucJP"}, {"de_DE.ISO-8859-15@euro", "de_DE", "ISO-8859-15"},
                 {"de_DE@euro", "de_DE", "before"}, {"C", "C", "before"}, {"", "before", "before"},
                 {".enc", "before", "enc"}};
    for (const Case& c : cases) {
        ClifCmdInvoker invoker;
        char argv0[] = "velnode", env[] = "--env", loc[] = "LOCALE=before", enc[] = "ENCODING=before";
        char* argv[] = {argv0, env, loc, env, enc, nullptr};
        ASSERT_EQ(0, invoker.parseCommandLine(5, argv));
        s_CLIConfigDirectory = myDir.path() + "/";
        setenv("DTFLANG", c.dtflang, 1);
        invoker.fillEnvmap();
        EXPECT_EQ(c.locale, invoker.envMap().at("LOCALE")) << c.dtflang;
        EXPECT_EQ(c.encoding, invoker.envMap().at("ENCODING")) << c.dtflang;
    }
}
