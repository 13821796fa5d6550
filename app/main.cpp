#include "app/command_line.h"

int main(int argumentCount, char** arguments) { RunProgram(argumentCount, arguments); }
