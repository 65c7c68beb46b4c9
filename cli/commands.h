// The lzhsfx subcommands. Each takes the arguments after its own name and
// returns the process exit code: 0 success, 1 a bad archive or member,
// 2 usage or I/O errors.
#pragma once
#include "cli/options.h"

int CmdList(const Args& args);     // l ARCHIVE            (cli/cmd_list.cpp)
int CmdVerboseList(const Args& args);  // v ARCHIVE        (cli/cmd_list.cpp)
int CmdTest(const Args& args);     // t ARCHIVE            (cli/cmd_test.cpp)
int CmdPrint(const Args& args);    // p ARCHIVE [NAME...]  (cli/cmd_test.cpp)
int CmdExtract(const Args& args);  // x ARCHIVE [-C DIR]   (cli/cmd_extract.cpp)
int CmdAdd(const Args& args);      // a ARCHIVE PATH...    (cli/cmd_add.cpp)
int CmdDelete(const Args& args);   // d ARCHIVE NAME...    (cli/cmd_add.cpp)
int CmdCreate(const Args& args);   // create OUT.exe ...   (cli/cmd_create.cpp)
int CmdInfo(const Args& args);     // info FILE.exe        (cli/cmd_info.cpp)

// Exit codes.
enum : int { ExitOk = 0, ExitBadArchive = 1, ExitUsage = 2 };

// Each command's description: its operands, options and help (cli/options.h).
extern const CommandDef ListCommand;
extern const CommandDef VerboseListCommand;
extern const CommandDef TestCommand;
extern const CommandDef PrintCommand;
extern const CommandDef ExtractCommand;
extern const CommandDef AddCommand;
extern const CommandDef DeleteCommand;
extern const CommandDef CreateCommand;
extern const CommandDef InfoCommand;

// Whether the arguments ask for help.
bool WantsHelp(const Args& args);
