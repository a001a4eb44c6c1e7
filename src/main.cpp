#include "app/program.h"

int main() { return kelconv::RunProgram(); }
