// Keys and privileges: the key set-up with the start privileges, and giving those privileges up.
#include "VelPriv.h"

#include "TrustedEnv.h"
#include "VelCMD.h"
#include "debug.h"

#include <string>
#include <unistd.h>

namespace {

const char* const AUTHENTICATE_CLASS = "com/orva/vel/utilities/authenticate/VelAuthenticate";

} // namespace

const std::vector<std::string>& VelPriv::secureStartOptions()
{
    static const std::vector<std::string> options = {
        "-XX:+DisableAttachMechanism",
        "-XX:-UsePerfData",
        "-XX:ErrorFile=/dev/null",
        "-XX:-DumpReplayDataOnError",
    };
    return options;
}

bool VelPriv::resetGroupIDs(gid_t gid)
{
    gid_t real = 0, effective = 0, saved = 0;
    return setresgid(gid, gid, gid) == 0 && getresgid(&real, &effective, &saved) == 0 && real == gid &&
           effective == gid && saved == gid;
}

void VelCMD::readKeys()
{
    DBG_ENTER("VelCMD::readKeys");
    DBG_MSG("Look for authenticate class.");
    jclass authClass = myEnv->FindClass(AUTHENTICATE_CLASS);
    if (authClass == nullptr) {
        std::string msg = "ERROR:   " + myName + " cannot find the VelAuthenticate class.";
        errorExit(1, msg.c_str());
    }
    DBG_MSG("Get ketKey method.");
    jmethodID setKeys = myEnv->GetStaticMethodID(authClass, "setKeys", "()V");
    if (setKeys == nullptr) {
        std::string msg =
            "ERROR:    " + myName + " cannot find the method VelAuthenticate.setKeys().";
        errorExit(1, msg.c_str());
    }
    DBG_MSG("Call authenticate.setKeys().");
    myEnv->CallStaticVoidMethod(authClass, setKeys);
    if (myEnv->ExceptionCheck()) {
        // No JNI call may follow while the exception is pending, and the keys are not set:
        // the command must not run.
        myEnv->ExceptionDescribe();
        myEnv->ExceptionClear();
        std::string msg =
            "ERROR:   " + myName + " received an exception from VelAuthenticate.setKeys().";
        errorExit(1, msg.c_str());
    }
    myEnv->DeleteLocalRef(authClass);
    resetUID();
    DBG_LEAVE("VelCMD::readKeys");
}

void VelCMD::resetUID()
{
    DBG_ENTER("VelCMD::resetUID");
    DBG_INT(origUID);
    // A secure start may also have been given a group (set-group-ID): the caller's own comes back
    // first, while the user IDs may still change group IDs.
    bool secure = isSecureStart();
    if (secure && !VelPriv::resetGroupIDs(getgid())) {
        std::string msg = "ERROR:   " + myName + " cannot set the effective, real, and saved GID.";
        errorExit(1, msg.c_str());
    }
    // setuid alone keeps the saved user ID of a non-root owner, from which the privileges
    // could be taken back: set all three and check that all three hold.
    uid_t real = 0, effective = 0, saved = 0;
    if (setresuid(origUID, origUID, origUID) < 0 || getresuid(&real, &effective, &saved) < 0 ||
        real != origUID || effective != origUID || saved != origUID) {
        std::string msg = "ERROR:   " + myName + " cannot set the effective, real, and saved UID.";
        errorExit(1, msg.c_str());
    }
    DBG_LEAVE("VelCMD::resetUID");
}
