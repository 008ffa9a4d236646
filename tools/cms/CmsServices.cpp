// The operations of the logon service and the clif service, as the
// generated dispatcher calls them.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "CmsState.h"
#include "soapH.h"

namespace
{
CmsState& stateOf(struct soap* soap)
{
    return *static_cast<CmsState*>(soap->user);
}

std::string newToken()
{
    unsigned char bytes[16] = {};
    std::ifstream("/dev/urandom", std::ios::binary).read(reinterpret_cast<char*>(bytes), sizeof bytes);
    std::string token;
    char hex[3];
    for (unsigned char b : bytes)
    {
        std::snprintf(hex, sizeof hex, "%02x", b);
        token += hex;
    }
    return token;
}

bool readFile(const std::string& path, std::string& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// Variables that decide which code runs on the server: the server's own
// values are used, whatever the caller sends.
bool isServerControlled(const std::string& name)
{
    static const char* const fixed[] = {
        "PATH",          "JAVA_HOME",        "CLASSPATH", "FOREGROUND", "JAVA_TOOL_OPTIONS",
        "_JAVA_OPTIONS", "JDK_JAVA_OPTIONS", "IFS",       "BASH_ENV",   "ENV"};
    for (const char* f : fixed)
        if (name == f)
            return true;
    return name.compare(0, 3, "LD_") == 0 || name.compare(0, 4, "VEL_") == 0 || name.compare(0, 6, "GCONV_") == 0;
}

std::vector<std::string> commandEnvironment(const ns3__Map* map)
{
    std::map<std::string, std::string> env;
    if (map && map->item)
    {
        for (const ns3__mapItem* item : *map->item)
        {
            if (item && item->key && item->value && !item->key->empty() && item->key->find('=') == std::string::npos &&
                !isServerControlled(*item->key))
                env[*item->key] = *item->value;
        }
    }
    for (char** entry = environ; *entry; ++entry)
    {
        std::string text = *entry;
        size_t equals = text.find('=');
        if (equals != std::string::npos && isServerControlled(text.substr(0, equals)))
            env[text.substr(0, equals)] = text.substr(equals + 1);
    }
    if (!env.count("PATH"))
        env["PATH"] = "/usr/bin:/bin";
    std::vector<std::string> entries;
    entries.reserve(env.size());
    for (const auto& e : env)
        entries.push_back(e.first + "=" + e.second);
    return entries;
}

bool isPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

void setBytes(struct soap* soap, xsd__base64Binary& target, const std::string& bytes)
{
    target.__size = int(bytes.size());
    target.__ptr = static_cast<unsigned char*>(soap_malloc(soap, bytes.size() + 1));
    bytes.copy(reinterpret_cast<char*>(target.__ptr), bytes.size());
}

ns1__clifstatus* newStatus(struct soap* soap, const std::string& sessionId, const SessionProgress& progress,
                           long long pollPeriod)
{
    ns1__clifstatus* status = soap_new_ns1__clifstatus(soap);
    status->sessionId = soap_new_xsd__string(soap);
    *status->sessionId = sessionId;
    status->complete = progress.complete;
    status->returnCode = progress.returnCode;
    status->outOpen = progress.outOpen;
    status->errOpen = progress.errOpen;
    status->pollPeriod = progress.morePending ? 0 : pollPeriod;
    setBytes(soap, status->out, progress.out);
    setBytes(soap, status->err, progress.err);
    return status;
}

bool knownToken(struct soap* soap, const std::string& token)
{
    return stateOf(soap).tokens.count(token) != 0;
}
} // namespace

int ns0__logon(struct soap* soap, std::string username, std::string password, struct ns0__logonResponse& r)
{
    CmsState& state = stateOf(soap);
    auto user = state.users.find(username);
    if (user == state.users.end() || user->second != password)
        return soap_sender_fault(soap, "Logon failed: unknown user or wrong password", nullptr);
    r._logonReturn = newToken();
    state.tokens.insert(r._logonReturn);
    return SOAP_OK;
}

int ns0__logonAsRoot(struct soap* soap, xsd__base64Binary cmsPrivateKeyBytes, std::string,
                     struct ns0__logonAsRootResponse& r)
{
    CmsState& state = stateOf(soap);
    std::string key;
    if (state.options.configDir.empty() || !readFile(state.options.configDir + "/.rconfig.server", key))
        return soap_receiver_fault(soap, "No key of the CMS to compare with", nullptr);
    std::string sent;
    if (cmsPrivateKeyBytes.__ptr && cmsPrivateKeyBytes.__size > 0)
        sent.assign(reinterpret_cast<const char*>(cmsPrivateKeyBytes.__ptr), size_t(cmsPrivateKeyBytes.__size));
    if (sent != key)
        return soap_sender_fault(soap, "Logon failed: the key does not match", nullptr);
    r._logonAsRootReturn = newToken();
    state.tokens.insert(r._logonAsRootReturn);
    return SOAP_OK;
}

int ns0__getCMSConfigPath(struct soap* soap, struct ns0__getCMSConfigPathResponse& r)
{
    r.getCMSConfigPathReturn = stateOf(soap).options.configDir;
    return SOAP_OK;
}

int ns5__invoke(struct soap* soap, std::string in0, std::string, ns3__Map* in2, ArrayOf_USCORExsd_USCOREstring* in3,
                struct ns5__invokeResponse& r)
{
    CmsState& state = stateOf(soap);
    if (!knownToken(soap, in0))
        return soap_sender_fault(soap, "Invalid logon token", nullptr);
    if (!in3 || !in3->__ptr || in3->__size <= 0)
        return soap_sender_fault(soap, "No command given", nullptr);
    std::vector<std::string> args(in3->__ptr, in3->__ptr + in3->__size);
    const std::string path = state.options.commandsDir + "/" + args[0];
    if (!isPlainName(args[0]) || access(path.c_str(), X_OK) != 0)
        return soap_sender_fault(soap, ("Unknown command: " + args[0]).c_str(), nullptr);

    std::string error;
    std::unique_ptr<CommandSession> session =
        CommandSession::start(path, args, commandEnvironment(in2), state.options.maxChunk, error);
    if (!session)
        return soap_receiver_fault(soap, ("Cannot start the command: " + error).c_str(), nullptr);
    std::string sessionId = "session-" + std::to_string(++state.sessionCount);

    // A quick command is answered at once, complete, when it ends within the wait.
    SessionProgress started;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(state.options.answerWithinMs);
    while (state.options.answerWithinMs > 0)
    {
        size_t room = state.options.maxChunk - std::max(started.out.size(), started.err.size());
        if (room == 0)
            break;
        SessionProgress now = session->collect(room);
        started.out += now.out;
        started.err += now.err;
        started.outOpen = now.outOpen;
        started.errOpen = now.errOpen;
        started.complete = now.complete;
        started.returnCode = now.returnCode;
        started.morePending = now.morePending;
        if (now.complete || now.morePending || std::chrono::steady_clock::now() >= deadline)
            break;
        usleep(1000);
    }
    if (!started.complete)
        state.sessions[sessionId] = std::move(session);
    r._invokeReturn = newStatus(soap, sessionId, started, state.options.pollPeriod);
    return SOAP_OK;
}

int ns5__status(struct soap* soap, std::string in0, std::string in1, ns3__Map*, xsd__base64Binary in3, bool in4,
                struct ns5__statusResponse& r)
{
    CmsState& state = stateOf(soap);
    if (!knownToken(soap, in0))
        return soap_sender_fault(soap, "Invalid logon token", nullptr);
    auto found = state.sessions.find(in1);
    if (found == state.sessions.end())
        return soap_sender_fault(soap, ("Unknown session: " + in1).c_str(), nullptr);
    found->second->feedInput(in3.__ptr, in3.__ptr && in3.__size > 0 ? size_t(in3.__size) : 0, in4);
    SessionProgress progress = found->second->collect(state.options.maxChunk);
    r._statusReturn = newStatus(soap, in1, progress, state.options.pollPeriod);
    if (progress.complete)
        state.sessions.erase(found);
    return SOAP_OK;
}
