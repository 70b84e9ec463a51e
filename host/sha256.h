// SHA-256 (FIPS 180-4), for checking the page hashes of a Mach-O module's
// code signature.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace ofxhost {

using Sha256Digest = std::array<std::uint8_t, 32>;

Sha256Digest sha256(const std::uint8_t *data, std::size_t size);

} // namespace ofxhost
