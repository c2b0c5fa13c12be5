// dattool: creates, lists and extracts DAT archives.
#include "commands.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    return runCommand(expandArguments(argc, argv));
}
