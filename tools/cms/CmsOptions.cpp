#include "CmsOptions.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iostream>

namespace
{
// A whole decimal number, or false.
bool parseNumber(const std::string& text, long long& number)
{
    char* end = nullptr;
    errno = 0;
    number = std::strtoll(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && errno == 0;
}

void printUsage()
{
    std::cerr << "usage: velcms [--host ADDR] [--port N] [--tls PEM | --http] --users FILE\n"
                 "              --commands DIR [--config-dir DIR] [--poll-ms N] [--max-chunk BYTES]\n"
                 "              [--record DIR] [--script DIR] [--keep-alive-ms N] [--answer-within-ms N]\n"
                 "              [--tls-max 1.2|1.3]\n";
}
} // namespace

bool CmsOptions::parse(int argc, char** argv)
{
    bool plainHttp = false;
    long long number = 0;
    for (int i = 1; i < argc; ++i)
    {
        std::string option = argv[i];
        if (option == "--http")
        {
            plainHttp = true;
            continue;
        }
        if (i + 1 >= argc)
        {
            printUsage();
            return false;
        }
        std::string value = argv[++i];
        bool numeric = option == "--port" || option == "--poll-ms" || option == "--max-chunk" ||
                       option == "--keep-alive-ms" || option == "--answer-within-ms";
        if (numeric && !parseNumber(value, number))
        {
            printUsage();
            return false;
        }
        if (option == "--host")
            host = value;
        else if (option == "--port")
            port = int(number);
        else if (option == "--tls")
            serverPem = value;
        else if (option == "--users")
            usersFile = value;
        else if (option == "--commands")
            commandsDir = value;
        else if (option == "--config-dir")
            configDir = value;
        else if (option == "--poll-ms")
            pollPeriod = number;
        else if (option == "--max-chunk")
            maxChunk = size_t(number);
        else if (option == "--record")
            recordDir = value;
        else if (option == "--script")
            scriptDir = value;
        else if (option == "--keep-alive-ms" && number >= 0)
            keepAliveMs = number;
        else if (option == "--answer-within-ms" && number >= 0)
            answerWithinMs = number;
        else if (option == "--tls-max" && (value == "1.2" || value == "1.3"))
            tlsMax = value;
        else
        {
            printUsage();
            return false;
        }
    }
    if (serverPem.empty() == !plainHttp || commandsDir.empty() || maxChunk == 0)
    {
        printUsage();
        return false;
    }
    return true;
}

std::map<std::string, std::string> readUsers(const std::string& file)
{
    std::map<std::string, std::string> users;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line))
    {
        size_t colon = line.find(':');
        if (colon != std::string::npos && colon > 0)
            users[line.substr(0, colon)] = line.substr(colon + 1);
    }
    return users;
}
