#include "VelCLI.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>
#include <vector>

namespace {

TEST(GetName, TakesThePartBehindTheLastSlash)
{
    EXPECT_EQ(VelCMD::getName("/opt/vel/bin/velnode"), "velnode");
    EXPECT_EQ(VelCMD::getName("velnode"), "velnode");
    EXPECT_EQ(VelCMD::getName("bin/"), "");
    EXPECT_EQ(VelCMD::getName(""), "");
}

struct Row {
    const char* name;
    const std::type_info& type;
    const char* javaClass;
};

TEST(CreateCLI, EachTableBuildsItsLauncherClass)
{
    const Row rows[] = {
        {"velnode", typeid(VelCLI), "com/orva/vel/cli/VelCommandDispatcher"},
        {"veldbgui", typeid(VelCLI), "com/orva/vel/gui/debug_gui/VelDebugMain"},
        {"velversion", typeid(VelAux), "com/orva/vel/utilities/version/VelVersion"},
        {"orvafw", typeid(VelAux), "com/orva/vel/config/VelRC"},
        {"velinitconfig", typeid(VelAux2), "com/orva/vel/cli/VelAuxillaryDispatcher"},
        {"velvtb", typeid(VelAux2), "com/orva/vel/visualtoolbuilder/TBGuiDriver"},
        {"velinit", typeid(VelInitAux), "com/orva/vel/config/VelInit"},
        {"velgethostname", typeid(VelGetHostNameAux), "com/orva/vel/utilities/VelGetHostName"},
        {"velmakekeys", typeid(VelMakeKeysAux), "com/orva/vel/utilities/authenticate/VelKeyPairGen"},
        {"VelNode", typeid(VelCLI), "com/orva/vel/cli/VelCommandDispatcher"},
    };
    for (const Row& row : rows) {
        std::unique_ptr<VelCMD> command(VelCLI::createCLI(row.name));
        ASSERT_NE(command, nullptr) << row.name;
        EXPECT_EQ(typeid(*command), row.type) << row.name;
        EXPECT_EQ(command->getClassToLoad(), row.javaClass) << row.name;
    }
}

TEST(CreateCLI, UnknownNamesGiveNull)
{
    for (const std::string& name : std::vector<std::string>{"", "vel", "velnode ", "velinventoryDMI", "velinventorydmi",
                                   "velnode" + std::string(300, 'x')}) {
        EXPECT_EQ(VelCLI::createCLI(name), nullptr) << name;
    }
}

// Gives a test the argument state that the class-specific start work leaves.
template <class Base>
class Inspect : public Base {
public:
    using Base::Base;
    void prepare(int argc, char** argv)
    {
        this->myArgc = argc;
        this->myArgv = argv;
    }
    int argc() const { return this->myArgc; }
    char** argv() const { return this->myArgv; }
    const std::string& name() const { return this->myName; }
};

TEST(LocalInit, AuxiliaryCommandsDropTheirName)
{
    char a0[] = "velversion", a1[] = "x";
    char* argv[] = {a0, a1, nullptr};
    Inspect<VelAux> aux("velversion", "c");
    aux.prepare(2, argv);
    aux.localInit();
    EXPECT_EQ(aux.argc(), 1);
    EXPECT_STREQ(aux.argv()[0], "x");

    Inspect<VelAux2> aux2("velinitconfig", "c");
    aux2.prepare(2, argv);
    aux2.localInit();
    EXPECT_EQ(aux2.argc(), 2);
}

TEST(LocalInit, DisplayIsRemovedForVelnodeOnly)
{
    setenv("DISPLAY", ":3", 1);
    Inspect<VelCLI> user("veluser", "c");
    user.localInit();
    EXPECT_STREQ(getenv("DISPLAY"), ":3");
    Inspect<VelCLI> node("velnode", "c");
    node.localInit();
    EXPECT_EQ(getenv("DISPLAY"), nullptr);
}

} // namespace
