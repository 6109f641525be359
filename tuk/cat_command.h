// tuk cat: entries' bytes to standard output, as tar -O or unzip -p.
#pragma once

#include <string>
#include <vector>

namespace tuk {

// Writes the bytes of each named entry to standard output, in the order
// given. A name picks the last entry spelled exactly so, or else the last
// one equal to it regardless of the case of A-Z (extraction keeps the later
// of two entries). Exit 0, or 2 when the archive cannot be read, a name has
// no entry or an entry does not decode (each said on standard error; the
// other names are still written).
int RunCat(const std::string& archive, const std::vector<std::string>& names);

}  // namespace tuk
