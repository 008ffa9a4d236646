// Every text the launcher shows its user, in one place: the messages of errorExit (standard error
// and the system log) and the hint written before a command class that cannot be loaded.
// Each takes the command name (myName) and what else the message names.
#ifndef VEL_MESSAGES_H
#define VEL_MESSAGES_H

#include <string>

namespace VelMessages
{

const char* const NO_OPTION_SPACE = "VelDaemon::addJVMOption: Insufficient space for option";

// Options and start.
inline std::string userOptionTooLong(const std::string& name)
{
    return "ERROR:   " + name + " cannot use a VEL_JVM_OPTS option longer than 255 characters.";
}
inline std::string cannotCreateJvm(const std::string& name)
{
    return "ERROR:   Cannot create Java Virtual Machine for " + name + ".";
}

// Keys and privileges.
inline std::string noAuthenticateClass(const std::string& name)
{
    return "ERROR:   " + name + " cannot find the VelAuthenticate class.";
}
inline std::string noSetKeysMethod(const std::string& name)
{
    return "ERROR:    " + name + " cannot find the method VelAuthenticate.setKeys().";
}
inline std::string setKeysException(const std::string& name)
{
    return "ERROR:   " + name + " received an exception from VelAuthenticate.setKeys().";
}
inline std::string cannotResetGid(const std::string& name)
{
    return "ERROR:   " + name + " cannot set the effective, real, and saved GID.";
}
inline std::string cannotResetUid(const std::string& name)
{
    return "ERROR:   " + name + " cannot set the effective, real, and saved UID.";
}
inline std::string cannotClearCapabilities(const std::string& name)
{
    return "ERROR:   " + name + " cannot clear the permitted, effective, inheritable, and ambient capabilities.";
}

// The Java main. The hint goes to standard error only, before the message.
inline std::string notInitializedHint(const std::string& product)
{
    return "Error:   " + product +
           " might not be initialized.\n"
           "         Please run `velinitconfig -a` before executing this command.\n";
}
inline std::string cannotLoadClass(const std::string& name, const std::string& javaClass)
{
    return "ERROR:   The command '" + name + "' cannot load the class " + javaClass + ".\n" +
           "Perhaps the command is restricted to administrative users.";
}
inline std::string noMainMethod(const std::string& name, const std::string& method, const std::string& javaClass)
{
    return "ERROR:   " + name + " cannot find the method " + method + " in the class " + javaClass + ".";
}
inline std::string mainException(const std::string& name)
{
    return "ERROR:   " + name + " received an exception from Java Virtual Machine.";
}
inline std::string noStringClass(const std::string& name)
{
    return "ERROR:   Cannot find class java/lang/String from " + name + ".";
}
inline std::string noArgumentArray(const std::string& name)
{
    return "ERROR:   Memory allocation error for jStringArr from " + name + ".";
}
inline std::string cannotStoreArgument(const std::string& name)
{
    return "ERROR:   Cannot store an argument in jStringArr from " + name + ".";
}
inline std::string noStringConstructor(const std::string& name)
{
    return "ERROR:   Cannot find java/lang/String constructor from " + name + ".";
}
inline std::string noByteArray(const std::string& name)
{
    return "ERROR:   Cannot construct NewByteArray from " + name + ".";
}
inline std::string byteArrayException(const std::string& name)
{
    return "ERROR:   Exception creating ByteArray from " + name + ".";
}
inline std::string cannotConstructString(const std::string& name)
{
    return "ERROR:   Cannot construct java/lang/String from " + name + ".";
}

} // namespace VelMessages

#endif
