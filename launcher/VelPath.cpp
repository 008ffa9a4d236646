// Install paths and class path: the base path, the runtime's directories, the archives below them.
#include "VelCMD.h"

#include "TrustedEnv.h"
#include "debug.h"

#include <cstring>
#include <dirent.h>

namespace
{

// With it present, the caller's own library path, Java home (JAVA_HOME) and class path count.
const char* const USE_ENV = "VEL_USE_ENV";
const char* const JAVA_HOME = "JAVA_HOME";
// Joins the entries of the class path and of directory listings.
const char* const pathSeparator = ":";

// Fixed paths below the install base; "%b" stands for the base path.
const char* const DEFAULT_SHLIB_PATH = "%b/opt/vel/j2re/lib/i386/:%b/opt/vel/j2re/lib/i386/server:"
                                       "%b/opt/vel/j2re/lib/i386/native_threads:%b/opt/vel/j2re/lib/i386/hotspot:"
                                       "%b/opt/vel/lib/:%b/opt/vel/j2re/lib/:/usr/lib";
const char* const SHLIB_PATH_TAIL = "/opt/orvaconsole/lib";
const char* const DEFAULT_JAVA_HOME = "%b/opt/vel/j2re/";
const char* const PATCH_DIR = "%b/opt/vel/patch/";
const char* const LIB_DIR = "%b/opt/vel/lib/";
const char* const MAIN_ARCHIVE = "vel.jar";
const char* const JRE_LIB_DIR = "%b/opt/vel/j2re/lib/";
const char* const CLASS_PATH_TAIL = "/opt/orvaconsole/webapps/ROOT/ui/jsp/resources:/opt/orvaconsole/lib";
const char* const ARCHIVE_EXT = "jar";
const char* const BASE_TOKEN = "%b";

// Appends an entry to a ":"-separated list, with a separator only between entries.
void appendEntry(std::string& list, const std::string& entry)
{
    if (!list.empty())
        list += pathSeparator;
    list += entry;
}

} // namespace

std::string VelCMD::readBasePath()
{
    DBG_ENTER("VelCMD::readBasePath");
    if (myBasePath.empty())
    {
        const char* szPATH = getTrustedEnv("VEL_BASE_DIR");
        if (szPATH != nullptr)
        {
            DBG_STR(szPATH);
            myBasePath = szPATH;
        }
        else
        {
            myBasePath.clear();
        }
        DBG_STR(myBasePath.c_str());
    }
    DBG_LEAVE("VelCMD::readBasePath");
    return myBasePath;
}

void VelCMD::insertInstallDir(std::string& path)
{
    DBG_ENTER("\"insertInstallDir\"");
    std::string base = readBasePath();
    std::string::size_type at = path.find(BASE_TOKEN);
    while (at != std::string::npos)
    {
        path.replace(at, strlen(BASE_TOKEN), base);
        // Go on behind the inserted text, so a token inside the base path stays as it is.
        at = path.find(BASE_TOKEN, at + base.size());
    }
    DBG_LEAVE("\"insertInstallDir\"");
}

std::string VelCMD::readShlibPath()
{
    DBG_ENTER("VelCMD::readShlibPath");
    std::string result;
    bool useEnv = getTrustedEnv(USE_ENV) != nullptr;
    const char* external = useEnv ? getenv("LD_LIBRARY_PATH") : nullptr;
    if (external != nullptr)
    {
        DBG_MSG("VEL_USE_ENV is set - using external shared library path");
        result = external;
    }
    else
    {
        if (useEnv)
            DBG_MSG("Library path does not appear to be set.  Setting to default.");
        else
            DBG_MSG("VEL_USE_ENV is not set");
        result = DEFAULT_SHLIB_PATH;
        insertInstallDir(result);
    }
    if (!result.empty())
        result += pathSeparator;
    result += SHLIB_PATH_TAIL;
    DBG_MSG(result.c_str());
    DBG_LEAVE("VelCMD::readShlibPath");
    return result;
}

std::string VelCMD::readJavaHome()
{
    DBG_ENTER("VelCMD::readJavaHome");
    std::string result;
    const char* external = nullptr;
    if (getTrustedEnv(USE_ENV) != nullptr)
    {
        DBG_MSG("VEL_USE_ENV is set - using external JAVA_HOME");
        external = getenv(JAVA_HOME);
        if (external == nullptr)
            DBG_MSG("Java Home does not appear to be set.  Setting to default.");
    }
    else
    {
        DBG_MSG("VEL_USE_ENV is not set");
    }
    if (external != nullptr)
    {
        result = external;
    }
    else
    {
        result = DEFAULT_JAVA_HOME;
        insertInstallDir(result);
    }
    DBG_MSG(result.c_str());
    DBG_LEAVE("VelCMD::readJavaHome");
    return result;
}

std::string VelCMD::readClassPath()
{
    DBG_ENTER("VelCMD::readClassPath");
    std::string classPath;
    if (getTrustedEnv(USE_ENV) != nullptr)
    {
        DBG_MSG("VEL_USE_ENV value is set -- attempt use the environment class path.");
        const char* external = getenv("CLASSPATH");
        if (external != nullptr)
        {
            DBG_MSG("Environment class path defined -- using it.");
            classPath = external;
        }
    }

    std::string patchDir = PATCH_DIR;
    insertInstallDir(patchDir);
    std::string patches = getFilesFromDir(patchDir, ARCHIVE_EXT);
    if (!patches.empty())
        appendEntry(classPath, patches);

    std::string libDir = LIB_DIR;
    insertInstallDir(libDir);
    appendEntry(classPath, libDir + MAIN_ARCHIVE);

    std::string libraries = getFilesFromDir(libDir, ARCHIVE_EXT);
    if (!libraries.empty())
        appendEntry(classPath, libraries);

    std::string runtimeDir = JRE_LIB_DIR;
    insertInstallDir(runtimeDir);
    std::string runtime = getFilesFromDir(runtimeDir, ARCHIVE_EXT);
    if (!runtime.empty())
        appendEntry(classPath, runtime);

    appendEntry(classPath, CLASS_PATH_TAIL);
    insertInstallDir(classPath);
    DBG_STR(classPath.c_str());
    DBG_LEAVE("VelCMD::readClassPath");
    return classPath;
}

// Taken only when the first occurrence of the suffix ends the name.
bool VelCMD::hasArchiveSuffix(const char* filename, const std::string& suffix)
{
    const char* index = strstr(filename, suffix.c_str());
    return index != nullptr && strlen(index) == suffix.size();
}

std::string VelCMD::getFilesFromDir(std::string dir, std::string ext)
{
    DBG_ENTER("VelCMD::getFilesFromDir");
    DBG_STR(dir.c_str());
    DBG_STR(ext.c_str());
    std::string suffix = "." + ext;
    std::string pathList;

    DBG_MSG("open directory.");
    DIR* directory = opendir(dir.c_str());
    if (directory == nullptr)
    {
        DBG_LEAVE("VelCMD::getFilesFromDir");
        return pathList;
    }
    DBG_MSG("Begin while.");
    while (struct dirent* dirStruct = readdir(directory))
    {
        DBG_MSG("get filename.");
        DBG_STR(dirStruct->d_name);
        std::string filename = dirStruct->d_name;
        DBG_STR(filename);
        if (hasArchiveSuffix(dirStruct->d_name, suffix))
        {
            const char* index = strstr(dirStruct->d_name, suffix.c_str());
            DBG_STR(index);
            appendEntry(pathList, dir + filename);
        }
    }
    closedir(directory);
    DBG_STR(pathList.c_str());
    DBG_LEAVE("VelCMD::getFilesFromDir");
    return pathList;
}

std::string VelCMD::readPolicyFile()
{
    std::string policyDir = std::string("%b/etc/opt/vel/") + "config/";
    insertInstallDir(policyDir);
    return policyDir + "java.policy";
}

std::string VelCMD::readCodeBase()
{
    std::string codeBaseDir = std::string("%b/opt/vel/") + "lib/";
    insertInstallDir(codeBaseDir);
    return codeBaseDir + "*";
}
