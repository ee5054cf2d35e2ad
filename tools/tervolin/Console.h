// Output of the command-line host: wide text to the console, or UTF-8
// when the stream is redirected to a file or pipe.
//
// Every write is checked. Once a write to a stream fails, later text for
// that stream is dropped, and the process ends with a failure exit code
// (FinalExitCode). A reader that closes the pipe of standard output (as
// "| head" does) is no error worth words: OutputClosed() tells a command
// with more to print that it may stop, and the run ends without a message.
#pragma once

#include <string_view>

void PrintOut(std::wstring_view text);
void PrintError(std::wstring_view text);
// Text already in UTF-8, for commands that print much of it.
void PrintOutUtf8(std::string_view text);

// True once the reader of standard output has gone away.
bool OutputClosed();

// The exit code of the process for the code a command returned: a failure
// when output was lost (with a message on standard error, unless the
// reader had closed the pipe).
int FinalExitCode(int commandResult);

// Where the text goes when the program has no such stream: nowhere for the
// console host (ConsoleOnly.cpp), a message box for the launcher without a
// console (tervolinw.cpp).
void PrintWithoutConsole(bool isError, std::wstring_view text);
