// dattool: creates, lists and extracts DAT archives.
#include "commands.h"

int main(int argc, char** argv) {
    return dat::detail::runCommand({argv, argv + argc});
}
