#include "VelCMD.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

class PathsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char* name : {"VEL_BASE_DIR", "VEL_USE_ENV", "LD_LIBRARY_PATH", "JAVA_HOME", "CLASSPATH"})
            unsetenv(name);
        char pattern[] = "/tmp/vel-paths-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = std::string(pattern) + "/";
    }
    void TearDown() override
    {
        std::error_code error;
        std::filesystem::remove_all(dir, error);
        ASSERT_FALSE(error) << error.message();
    }
    void touch(const std::string& name)
    {
        int fd = open((dir + name).c_str(), O_CREAT | O_WRONLY, 0644);
        if (fd >= 0)
            close(fd);
        ASSERT_GE(fd, 0);
    }

    std::string dir;
};

std::vector<std::string> split(const std::string& list)
{
    std::vector<std::string> parts;
    std::stringstream stream(list);
    std::string part;
    while (std::getline(stream, part, ':'))
        parts.push_back(part);
    std::sort(parts.begin(), parts.end());
    return parts;
}

TEST_F(PathsTest, ListingTakesNamesThatEndInTheFirstSuffix)
{
    for (const char* name : {"a.jar", "b.JAR", "c.jar.bak", "d.jarx", "e.jar.jar", ".jar", "f.zip"})
        touch(name);
    ASSERT_EQ(mkdir((dir + "g.jar").c_str(), 0755), 0);
    VelCMD command("velnode", "c");
    EXPECT_EQ(split(command.getFilesFromDir(dir, "jar")),
              (std::vector<std::string>{dir + ".jar", dir + "a.jar", dir + "g.jar"}));
}

TEST_F(PathsTest, MissingDirectoryContributesNothing)
{
    VelCMD command("velnode", "c");
    EXPECT_EQ(command.getFilesFromDir(dir + "missing/", "jar"), "");
    EXPECT_EQ(command.getFilesFromDir(dir, "jar"), "");
}

TEST_F(PathsTest, BasePathIsReadUntilItIsNotEmpty)
{
    VelCMD command("velnode", "c");
    EXPECT_EQ(command.readBasePath(), "");
    setenv("VEL_BASE_DIR", "", 1);
    EXPECT_EQ(command.readBasePath(), "");
    setenv("VEL_BASE_DIR", "/stage", 1);
    EXPECT_EQ(command.readBasePath(), "/stage");
    setenv("VEL_BASE_DIR", "/other", 1);
    EXPECT_EQ(command.readBasePath(), "/stage");
}

TEST_F(PathsTest, TokenReplacementDoesNotExpandTheInsertedBase)
{
    VelCMD command("velnode", "c");
    std::string path = "%b/opt:%b%b/x:%";
    command.insertInstallDir(path);
    EXPECT_EQ(path, "/opt:/x:%");

    setenv("VEL_BASE_DIR", "/b%b", 1);
    VelCMD based("velnode", "c");
    path = "%b/opt:%b/lib";
    based.insertInstallDir(path);
    EXPECT_EQ(path, "/b%b/opt:/b%b/lib");
    based.insertInstallDir(path);
    EXPECT_EQ(path, "/b/b%b/opt:/b/b%b/lib");
}

} // namespace
