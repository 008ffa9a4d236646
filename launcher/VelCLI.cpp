#include "VelCLI.h"

#include "TrustedEnv.h"
#include "VelCommandTable.h"
#include "debug.h"

#include <cstdlib>

namespace
{

// Only this many bytes of the command name take part in the lookup.
constexpr size_t MAX_KEY_LENGTH = 255;

template <size_t N>
const CommandRow* findRow(const CommandRow (&table)[N], const std::string& key)
{
    for (const CommandRow& row : table)
    {
        if (key == row.command)
            return &row;
    }
    return nullptr;
}

// ASCII capitals only: the launcher sets no locale.
std::string lookupKey(const std::string& name)
{
    std::string key = name.substr(0, MAX_KEY_LENGTH);
    for (char& c : key)
    {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

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
    VelCMD::setFilePermissions();
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
