// The launcher classes and the command tables that choose among them.
#ifndef VEL_CLI_H
#define VEL_CLI_H

#include "VelCMD.h"

// Management commands: the dispatcher gets the command name as its first argument.
class VelCLI : public VelCMD
{
public:
    using VelCMD::VelCMD;

    // Looks the command name up in the four tables; null for a name in none of them.
    static VelCMD* createCLI(const std::string& name);

    void localInit() override;
    void localProcessing(JNIEnv* env) override;
    void localVMargs(JavaVMInitArgs* args) override;
    // Kept as the management commands' own step, though it does what the base class does.
    void setFilePermissions() override; // cppcheck-suppress uselessOverride
};

// Auxiliary commands: the Java main gets only the arguments after the command name.
class VelAux : public VelCMD
{
public:
    using VelCMD::VelCMD;

    void localInit() override;
    void localProcessing(JNIEnv* env) override;
};

// Auxiliary commands whose dispatcher learns the command from its first argument.
class VelAux2 : public VelCMD
{
public:
    using VelCMD::VelCMD;

    void localProcessing(JNIEnv* env) override;
    void initAuthFlags() override;
};

// velinit keeps the privileges and the file-creation mask it started with.
class VelInitAux : public VelAux
{
public:
    using VelAux::VelAux;

    void localProcessing(JNIEnv* env) override;
};

class VelGetHostNameAux : public VelAux
{
public:
    using VelAux::VelAux;

    void initAuthFlags() override;
};

class VelMakeKeysAux : public VelAux
{
public:
    using VelAux::VelAux;

    void initAuthFlags() override;
};

#endif
