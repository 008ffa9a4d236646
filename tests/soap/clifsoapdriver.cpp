// Test driver of the SOAP clients: runs CLIClientLogon and CLIClientInvoke
// against a server the way clifclient does and prints what they return.
//
//   clifsoapdriver CONFIGDIR logon URL USER PASSWORD
//   clifsoapdriver CONFIGDIR rootlogon URL USER
//   clifsoapdriver CONFIGDIR calls URL TOKEN USER [--env K=V]... [--status N]
//                  [--input-hex HEX] [--closed] -- COMMAND [ARG]...
//   clifsoapdriver CONFIGDIR run LOGONURL INVOKEURL USER PASSWORD [--env K=V]...
//                  -- COMMAND [ARG]...
//
// logon, rootlogon and calls print one JSON object per call on standard
// output. run relays standard input and output like clifclient and exits with
// the command's return code (255 after a failed call).
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "CLIClientInvoke.h"
#include "CLIClientLogon.h"
#include "ClifConfigDirectory.h"

namespace
{
std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text)
    {
        if (c == '"' || c == '\\')
        {
            out += '\\';
            out += char(c);
        }
        else if (c < 0x20 || c >= 0x7f)
        {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        }
        else
        {
            out += char(c);
        }
    }
    return out + "\"";
}

std::string hexOf(const unsigned char* data, int length)
{
    std::string hex;
    char pair[3];
    for (int i = 0; data && i < length; ++i)
    {
        std::snprintf(pair, sizeof pair, "%02x", data[i]);
        hex += pair;
    }
    return hex;
}

std::vector<unsigned char> bytesOfHex(const std::string& hex)
{
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back((unsigned char)std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
    return bytes;
}

std::string faultJson(const SoapError* error)
{
    return "{\"code\":" + jsonString(error->faultCode) + ",\"string\":" + jsonString(error->faultString) +
           ",\"detail\":" + jsonString(error->faultDetail) + "}";
}

void printToken(const char* call, CLIClientLogon& logon, const std::string& token)
{
    std::cout << "{\"call\":\"" << call << "\",\"token\":" << jsonString(token);
    if (logon.getSoapError())
        std::cout << ",\"fault\":" << faultJson(logon.getSoapError());
    std::cout << "}\n";
}

void printResult(const char* call, CLIClientInvoke& client, const ClifResult& r)
{
    std::cout << "{\"call\":\"" << call << "\"";
    if (client.getSoapError())
    {
        std::cout << ",\"fault\":" << faultJson(client.getSoapError()) << "}\n";
        return;
    }
    std::cout << ",\"sessionId\":" << jsonString(r.sessionId) << ",\"complete\":" << (r.complete ? "true" : "false")
              << ",\"pollPeriod\":" << r.pollPeriod << ",\"returnCode\":" << r.returnCode
              << ",\"outOpen\":" << (r.outOpen ? "true" : "false") << ",\"errOpen\":" << (r.errOpen ? "true" : "false")
              << ",\"out\":\"" << hexOf(r.outData, r.outLength) << "\",\"err\":\"" << hexOf(r.errData, r.errLength)
              << "\"}" << '\n';
}

// Remembers a result's bytes to check that they are still intact after the
// next call has returned.
class ReplyWitness
{
public:
    void remember(const ClifResult& r)
    {
        myResult = r;
        myOut.assign(r.outData, r.outData + r.outLength);
        myErr.assign(r.errData, r.errData + r.errLength);
    }
    bool intact() const
    {
        return std::vector<unsigned char>(myResult.outData, myResult.outData + myResult.outLength) == myOut &&
               std::vector<unsigned char>(myResult.errData, myResult.errData + myResult.errLength) == myErr;
    }

private:
    ClifResult myResult;
    std::vector<unsigned char> myOut;
    std::vector<unsigned char> myErr;
};

struct CallOptions
{
    std::map<std::string, std::string> env;
    std::vector<std::string> args;
    int statusCalls = 0;
    bool haveInput = false;
    std::vector<unsigned char> input;
    bool stdinOpen = true;
};

bool parseCallOptions(int argc, char** argv, int first, CallOptions& options)
{
    for (int i = first; i < argc; ++i)
    {
        std::string option = argv[i];
        if (option == "--")
        {
            options.args.assign(argv + i + 1, argv + argc);
            return true;
        }
        if (option == "--closed")
            options.stdinOpen = false;
        else if (i + 1 < argc && option == "--env")
        {
            std::string entry = argv[++i];
            size_t equals = entry.find('=');
            options.env[entry.substr(0, equals)] = equals == std::string::npos ? "" : entry.substr(equals + 1);
        }
        else if (i + 1 < argc && option == "--status")
            options.statusCalls = static_cast<int>(std::strtol(argv[++i], nullptr, 10));
        else if (i + 1 < argc && option == "--input-hex")
        {
            options.haveInput = true;
            options.input = bytesOfHex(argv[++i]);
        }
        else
            return false;
    }
    return true;
}

int runCalls(const std::string& url, const std::string& token, const std::string& user, const CallOptions& options)
{
    CLIClientInvoke client(url);
    if (client.getSoapError())
        std::cout << "{\"call\":\"constructor\",\"fault\":" << faultJson(client.getSoapError()) << "}\n";
    ClifResult result = client.invoke(token, user, options.env, options.args);
    printResult("invoke", client, result);
    ReplyWitness witness;
    witness.remember(result);
    for (int i = 0; i < options.statusCalls; ++i)
    {
        const unsigned char* in = options.haveInput && i == 0 ? options.input.data() : nullptr;
        int length = in ? int(options.input.size()) : 0;
        result = client.checkStatus(token, result.sessionId, options.env, in, length, options.stdinOpen);
        std::cout << "{\"call\":\"check\",\"previousBytesIntact\":" << (witness.intact() ? "true" : "false") << "}"
                  << '\n';
        printResult("status", client, result);
        witness.remember(result);
    }
    return 0;
}

void writeAll(int fd, const unsigned char* data, int length)
{
    while (data && length > 0)
    {
        ssize_t n = write(fd, data, size_t(length));
        if (n <= 0)
            return;
        data += n;
        length -= int(n);
    }
}

int failed(const char* call, SoapError* error)
{
    std::cerr << call << " failed: " << error->faultCode << " | " << error->faultString << " | " << error->faultDetail
              << '\n';
    return 255;
}

int runCommand(const std::string& logonUrl, const std::string& invokeUrl, const std::string& user,
               const std::string& password, const CallOptions& options)
{
    CLIClientInvoke client(invokeUrl);
    std::string token;
    {
        CLIClientLogon logon(logonUrl);
        token = logon.getLogonToken(user, password);
        if (token.empty())
            return logon.getSoapError() ? failed("logon", logon.getSoapError()) : 255;
        client.continueAfter(logon);
    }
    ClifResult result = client.invoke(token, user, options.env, options.args);
    if (client.getSoapError())
        return failed("invoke", client.getSoapError());
    bool stdinOpen = true;
    std::vector<unsigned char> input(65536);
    ReplyWitness witness;
    while (!result.complete)
    {
        int length = 0;
        pollfd ready = {0, POLLIN, 0};
        if (stdinOpen && poll(&ready, 1, 0) > 0)
        {
            ssize_t n = read(0, input.data(), input.size());
            length = n > 0 ? int(n) : 0;
            stdinOpen = n > 0;
        }
        witness.remember(result);
        result = client.checkStatus(token, result.sessionId, options.env, length ? input.data() : nullptr, length,
                                    stdinOpen);
        if (client.getSoapError())
            return failed("status", client.getSoapError());
        if (!witness.intact())
        {
            std::cerr << "the previous reply's bytes changed during the next call\n";
            return 99;
        }
        writeAll(1, result.outData, result.outLength);
        writeAll(2, result.errData, result.errLength);
        if (!result.complete && result.pollPeriod > 0)
            usleep(useconds_t(result.pollPeriod) * 1000);
    }
    return result.returnCode;
}

int usage()
{
    std::cerr << "usage: clifsoapdriver CONFIGDIR (logon|rootlogon|calls|run) ...\n";
    return 2;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return usage();
    s_CLIConfigDirectory = argv[1];
    if (s_CLIConfigDirectory.empty() || s_CLIConfigDirectory.back() != '/')
        s_CLIConfigDirectory += '/';
    std::string mode = argv[2];
    if (mode == "logon" && argc == 6)
    {
        CLIClientLogon logon(argv[3]);
        std::string token = logon.getLogonToken(argv[4], argv[5]);
        printToken("logon", logon, token);
        return 0;
    }
    if (mode == "rootlogon" && argc == 5)
    {
        CLIClientLogon logon(argv[3]);
        std::string token = logon.getLogonToken(std::string(argv[4]));
        printToken("rootlogon", logon, token);
        return 0;
    }
    CallOptions options;
    if (mode == "calls" && argc >= 6 && parseCallOptions(argc, argv, 6, options))
        return runCalls(argv[3], argv[4], argv[5], options);
    if (mode == "run" && argc >= 7 && parseCallOptions(argc, argv, 7, options))
        return runCommand(argv[3], argv[4], argv[5], argv[6], options);
    return usage();
}
