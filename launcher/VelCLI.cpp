#include "VelCLI.h"

#include "TrustedEnv.h"
#include "debug.h"

#include <cstdlib>
#include <sys/stat.h>

namespace {

struct CommandRow {
    const char* command;
    const char* javaClass;
};

const char* const CLI_DISPATCHER = "com/orva/vel/cli/VelCommandDispatcher";
const char* const AUX_DISPATCHER = "com/orva/vel/cli/VelAuxillaryDispatcher";

const CommandRow legalCLI[] = {
    {"velexec", CLI_DISPATCHER},    {"velnode", CLI_DISPATCHER},
    {"velngroup", CLI_DISPATCHER},  {"veltool", CLI_DISPATCHER},
    {"veluser", CLI_DISPATCHER},    {"velrole", CLI_DISPATCHER},
    {"veltoolbox", CLI_DISPATCHER}, {"velauth", CLI_DISPATCHER},
    {"veldebug", CLI_DISPATCHER},   {"velquery", CLI_DISPATCHER},
    {"velfolder", CLI_DISPATCHER},  {"velmib", CLI_DISPATCHER},
    {"velstm", CLI_DISPATCHER},     {"veltask", CLI_DISPATCHER},
    {"velwbemsub", CLI_DISPATCHER}, {"velreport", CLI_DISPATCHER},
    {"veldbgui", "com/orva/vel/gui/debug_gui/VelDebugMain"},
};

// The last row is never selected: the lower-cased key cannot equal its mixed-case name.
const CommandRow legalAux[] = {
    {"orvafw", "com/orva/vel/config/VelRC"},
    {"velconfigrepo", "com/orva/vel/core/repository/VelConfigRepositoryCLI"},
    {"velrepositorysave", "com/orva/vel/core/repository/VelPgSQLBackup"},
    {"velrepositoryrestore", "com/orva/vel/core/repository/VelPgSQLRestore"},
    {"veldbdatasave", "com/orva/vel/core/repository/VelRepositorySave"},
    {"velversion", "com/orva/vel/utilities/version/VelVersion"},
    {"velinitialization", "com/orva/vel/config/VelInitialization"},
    {"velinventory", "com/orva/vel/core/tools/datacollection/detached/DetachedCollectorService"},
    {"velinventoryDMI",
     "com/orva/vel/core/tools/datacollection/detached/DetachedCollectorService -DMI"},
};

const CommandRow legalAux2[] = {
    {"velnodesecurity", AUX_DISPATCHER}, {"velagentconfig", AUX_DISPATCHER},
    {"velpassword", AUX_DISPATCHER},     {"velinitconfig", AUX_DISPATCHER},
    {"vellog", AUX_DISPATCHER},          {"veloracleconfig", AUX_DISPATCHER},
    {"velgetdbinfo", AUX_DISPATCHER},
    {"velvtb", "com/orva/vel/visualtoolbuilder/TBGuiDriver"},
};

const CommandRow specialAux[] = {
    {"velinit", "com/orva/vel/config/VelInit"},
    {"velgethostname", "com/orva/vel/utilities/VelGetHostName"},
    {"velmakekeys", "com/orva/vel/utilities/authenticate/VelKeyPairGen"},
};

// Only this many bytes of the command name take part in the lookup.
constexpr size_t MAX_KEY_LENGTH = 255;

template <size_t N>
const CommandRow* findRow(const CommandRow (&table)[N], const std::string& key)
{
    for (const CommandRow& row : table) {
        if (key == row.command)
            return &row;
    }
    return nullptr;
}

// ASCII capitals only: the launcher sets no locale.
std::string lookupKey(const std::string& name)
{
    std::string key = name.substr(0, MAX_KEY_LENGTH);
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

const mode_t FILE_MASK = 022;

} // namespace

VelCMD* VelCLI::createCLI(const std::string& name)
{
    std::string key = lookupKey(name);
    if (const CommandRow* row = findRow(legalCLI, key))
        return new VelCLI(row->command, row->javaClass);
    if (const CommandRow* row = findRow(legalAux, key))
        return new VelAux(row->command, row->javaClass);
    if (const CommandRow* row = findRow(legalAux2, key))
        return new VelAux2(row->command, row->javaClass);
    if (key == specialAux[0].command)
        return new VelInitAux(specialAux[0].command, specialAux[0].javaClass);
    if (key == specialAux[1].command)
        return new VelGetHostNameAux(specialAux[1].command, specialAux[1].javaClass);
    if (key == specialAux[2].command)
        return new VelMakeKeysAux(specialAux[2].command, specialAux[2].javaClass);
    return nullptr;
}

void VelCLI::localInit()
{
    // velnode runs without a display, for the options as well as for the command.
    if (myName == "velnode")
        unsetenv("DISPLAY");
}

void VelCLI::localProcessing(JNIEnv*)
{
    readKeys();
    setFilePermissions();
}

void VelCLI::localVMargs(JavaVMInitArgs*)
{
    DBG_MSG("enter localVMargs");
    addJVMOption("-client");
    addJVMOption("-Xint");
    DBG_MSG("exit localVMargs");
}

void VelCLI::setFilePermissions()
{
    umask(FILE_MASK);
}

void VelAux::localInit()
{
    --myArgc;
    ++myArgv;
}

void VelAux::localProcessing(JNIEnv*)
{
    resetUID();
    setFilePermissions();
}

void VelAux2::localProcessing(JNIEnv*)
{
    resetUID();
    setFilePermissions();
}

void VelAux2::initAuthFlags() {}

void VelInitAux::localProcessing(JNIEnv*)
{
    // Its Java main must not run with privileges the caller does not have; the file-creation
    // mask stays as inherited.
    if (myAuthFlag == 1)
        readKeys();
    else if (isSecureStart())
        resetUID();
}

void VelGetHostNameAux::initAuthFlags() {}

void VelMakeKeysAux::initAuthFlags() {}
