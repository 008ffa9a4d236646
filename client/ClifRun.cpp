// The run sequence: configuration, logon, invoke and the polling loop.
#include "ClifParser.h"

#include <iostream>

#include <unistd.h>

#include "CLIClientInvoke.h"
#include "CLIClientLogon.h"
#include "ClifCause.h"
#include "ClifMessages.h"

namespace
{

// The parent sees only the low 8 bits of the exit status. A code that is not 0 but whose low
// 8 bits are (256, -2^31, ...) would read as success there: it ends the run with 1 instead.
int exitStatusOf(int returnCode)
{
    return returnCode != 0 && (returnCode & 0xff) == 0 ? 1 : returnCode;
}

} // namespace

int ClifCmdInvoker::invokeCluiCmd(int argc, char** argv)
{
    const char* programPath = argc > 0 && argv[0] ? argv[0] : "";
    ClifCause::setProgramName(stripFullPath(programPath));
    if (parseCommandLine(argc, argv) != 0)
        return 1;
    if (m_cms.empty())
        fillCms();
    int urlError = readUrls();
    if (urlError != 0)
    {
        ClifCause::report(ClifCause::ofUnreadableConfig(urlError, programPath));
        return urlError;
    }
    if (m_envMap.empty())
        fillEnvmap();
    if (m_username.empty())
        getUsernameOnUnix();

    CLIClientLogon logon(m_logonUrl);
    CLIClientInvoke invoker(m_invokeUrl);

    std::string token = logOn(logon);
    if (token.empty())
    {
        printConnectionHelp();
        ClifCause::reportNoted();
        return -1;
    }
    invoker.continueAfter(logon);

    ClifResult current = invoker.invoke(token, m_username, m_envMap, m_args);
    if (SoapError* error = invoker.getSoapError())
    {
        std::cout << ClifMessages::INVOKE_FAILED << error->faultString << "\n" << std::flush;
        ClifCause::reportNoted();
        return -1;
    }
    displayStatus(current);
    m_stdinOpen = true;
    return pollUntilComplete(invoker, token, current);
}

// A user name with a password logs on the ordinary way; anything else asks for
// the logon with the CMS's key file, which works only on the CMS itself. A
// password alone has the local login name as its user name by now.
std::string ClifCmdInvoker::logOn(CLIClientLogon& logon)
{
    if (!m_username.empty() && !m_password.empty())
    {
        ClifCause::warnIfClearText(m_logonUrl, "the password");
        return logon.getLogonToken(m_username, m_password);
    }
    return logon.getLogonToken(m_username);
}

void ClifCmdInvoker::printConnectionHelp()
{
    std::cout << ClifMessages::CONNECTION_HELP << std::flush;
}

int ClifCmdInvoker::pollUntilComplete(CLIClientInvoke& invoker, const std::string& token, ClifResult current)
{
    for (;;)
    {
        if (current.complete)
            return exitStatusOf(current.returnCode);
        if (m_stdinOpen)
        {
            // At most ClifInputRelay::CALL_LIMIT bytes, so the count fits an int.
            std::string input = readFromStdIn();
            current = invoker.checkStatus(token, current.sessionId, m_envMap, input.data(),
                                          static_cast<int>(input.size()), m_stdinOpen);
            if (SoapError* error = invoker.getSoapError())
            {
                std::cout << ClifMessages::PANIC_LINE << error->faultString << "\n" << std::flush;
                ClifCause::reportNoted();
                return -1;
            }
        }
        else
        {
            current =
                invoker.checkStatus(token, current.sessionId, m_envMap, static_cast<const char*>(nullptr), 0, false);
            if (invoker.getSoapError())
            {
                std::cout << ClifMessages::PANIC_LINE << std::flush;
                ClifCause::reportNoted();
                return -1;
            }
        }
        if (!current.complete)
            pauseForPollPeriod(current.pollPeriod);
        displayStatus(current);
    }
}

// Whole seconds only; a period under a second, or a negative one, gives no pause.
void ClifCmdInvoker::pauseForPollPeriod(int pollPeriod)
{
    int seconds = pollPeriod / 1000;
    if (seconds > 0)
        sleep(static_cast<unsigned>(seconds));
}
