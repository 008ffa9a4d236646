// Environment look-ups that a secure start (set-user-ID, set-group-ID, file capabilities) must not trust.
#ifndef VEL_TRUSTED_ENV_H
#define VEL_TRUSTED_ENV_H

// True when the kernel marked this start as secure (AT_SECURE).
bool isSecureStart();

// The value of a variable that picks code or files run with the start privileges.
// In a secure start the caller's value is ignored and the variable reads as unset.
const char* getTrustedEnv(const char* name);

// In a secure start, removes the variables from which the Java runtime takes options of its own
// (JAVA_TOOL_OPTIONS, _JAVA_OPTIONS). The runtime ignores them itself only where the real and
// effective user or group IDs differ, not in a start with file capabilities alone.
void removeRuntimeOptionVariables();

#endif
