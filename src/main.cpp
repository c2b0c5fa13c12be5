// dattool: creates, lists and extracts DAT archives.
#include "commands.h"

int main(int argc, char** argv) {
    return runCommand({argv, argv + argc});
}
