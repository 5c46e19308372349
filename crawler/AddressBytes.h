#pragma once

#include <QString>
#include <QStringView>

#include <string>
#include <string_view>

// Addresses held as bytes, the form the level lists and the seen-lists keep them in: each
// UTF-16 code unit encoded on its own the way UTF-8 encodes a code point (a surrogate as
// three bytes of its own). Any text, lone surrogates included, comes back unchanged; an
// address of plain ASCII takes one byte a character; and a run of code units occurs in a
// text exactly when its bytes occur in the text's bytes.

// Appends the bytes of `text` to `bytes`.
void appendAddressBytes(QStringView text, std::string &bytes);
// The text whose bytes `bytes` are. REQUIRES: `bytes` was made by appendAddressBytes.
QString addressFromBytes(std::string_view bytes);
