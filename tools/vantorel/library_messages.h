// What the image libraries print on standard error themselves (libpng's
// and libjpeg's own lines, for instance) is caught, so that the tool can
// fold it into its one message about the file instead of letting it
// appear raw before that message.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace vantorel {

// From here on, standard error (descriptor 2) goes to a buffer, and the
// tool's own messages go to the original standard error through
// toolMessages(). Does nothing if the buffer cannot be made.
void catchLibraryMessages();

// Where the tool's own messages go: the original standard error.
std::FILE *toolMessages();

// The lines caught since the last call, each once; the buffer is emptied.
std::vector<std::string> takeLibraryMessages();

// One reason for a failure from the image library's error text and the
// lines it printed: a plain phrase where the words are known (a file cut
// short, ...), then the library's own distinct lines in brackets.
std::string libraryReason(const std::string &errorText);

} // namespace vantorel
