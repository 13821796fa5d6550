#include "app/command_line.h"

#include <cstdio>
#include <iostream>
#include <new>

#include "app/operation_driver.h"
#include "app/program_state.h"
#include "io/shared_io.h"
#include "model/code_tree.h"
#include "model/frequency_table.h"
#include "platform/platform.h"
#include "plugin/crypto_plugin.h"

const std::string VersionText = "Corvane version 3.0 Build 251109";

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

namespace {

void PrintHelp() {
    PrintLine("Usage: Corvane [option]");
    PrintLine("Options:");
    PrintLine("  -h, --help      Show this help message and exit");
    PrintLine("  -v, --version   Show version information and exit");
}

// Console output reaches the terminal at once, also right before an
// immediate exit.
void MakeConsoleUnbuffered() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::cout << std::unitbuf;
}

void OutOfMemory() { Fatal("out of memory."); }

// Interprets the one argument: answers the options, or takes it as the path,
// loading the plug-in and unsealing a ".proto" file. Returns the mode.
int ModeForArgument(const std::string& argument, std::string& path) {
    if (argument == "-h" || argument == "--help") {
        PrintHelp();
        ExitImmediately(0);
    }
    if (argument == "-v" || argument == "--version") {
        PrintLine(VersionText);
        ExitImmediately(0);
    }
    path = argument;
    pluginActive = LoadPlugin("plugin.dll");
    if (EndsWith(path, ".proto") && pluginActive && RunDecrypt(path)) {
        SealedName = path;
        path += ".txt.lx";
        AdoptUnsealedCopy(path);
    }
    return EndsWith(path, ".lx") ? 2 : 1;
}

}  // namespace

void RunProgram(int argumentCount, char** arguments) {
    MakeConsoleUnbuffered();
    std::set_new_handler(OutOfMemory);
    FatalCleanup = AbandonRun;
    EndRunOnInterrupts();
    SetConsoleTitleText();
    InitSymbols(FrequencyTable);
    PrintLine("-------" + VersionText + "-------");
    std::string path;
    int mode = 0;
    if (argumentCount == 2) mode = ModeForArgument(arguments[1], path);
    RunOperation(mode, path);
    FreeTree(TreeRoot);
    FreeCodeList(CodeList.next);
    ExitImmediately(0);
}
