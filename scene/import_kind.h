// Which kind of content a picked file is, decided by its name alone.
#pragma once

#include <filesystem>
#include <span>
#include <string>

namespace qv {

// What a picked file is, by the extension of its name: the text from the last
// "." of the file name on, compared exactly. A dot that starts the name opens
// no extension (".pmx" has none), and mixed case such as ".Pmx" is not
// recognised: such files are passed over without a message.
enum class ImportKind { None, Model, Motion, Song, Shader, Accessory };

std::string ExtensionOf(const std::filesystem::path& path);
ImportKind ImportKindOf(const std::filesystem::path& path);

// A file ending the importer takes, in lower case (the whole ending in upper
// case is taken too), and what such a file holds.
struct ImportEnding {
    const char* ending;
    ImportKind kind;
};

// Every ending taken, in the order the file browser offers them: the one
// list that sorting, the browser's filter and the refusal text read.
std::span<const ImportEnding> ImportEndings();

// The endings as a sentence: ".pmx, .pmd, ... or .hlsl".
std::string ImportEndingsText();

}  // namespace qv
