// The program's entry point, on whichever platform it was built for.
#ifndef KELCONV_APP_PROGRAM_H_
#define KELCONV_APP_PROGRAM_H_

namespace kelconv {

// Runs the converter with the platform's files and message box; returns the exit code.
int RunProgram();

}  // namespace kelconv

#endif  // KELCONV_APP_PROGRAM_H_
