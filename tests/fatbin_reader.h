// Reads the device module that nvcc links into a host binary: the fatbin
// containers of its .nv_fatbin section, their PTX and cubin entries, and the
// symbols of a cubin. Every function reports failure through `why`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Entry kinds as the fatbin entry header records them.
constexpr uint16_t kFatbinPtx = 1;
constexpr uint16_t kFatbinCubin = 2;

struct FatbinEntry {
    uint16_t kind;
    unsigned sm;                         // 75 for sm_75
    std::vector<unsigned char> payload;  // decompressed when stored compressed
};

struct CubinSymbol {
    std::string name;
    unsigned char type;  // STT_FUNC, STT_OBJECT, ...
    std::string section;
    uint64_t value;  // offset in its section
    uint64_t size;
    std::vector<unsigned char> bytes;  // its `size` bytes; empty when its section has no data
};

// Copies the binary's .nv_fatbin section out with objcopy.
bool read_fatbin_section(const std::string& objcopy, const std::string& binary,
                         std::vector<unsigned char>* section, std::string* why);

// Walks every container of the section and decompresses compressed payloads.
bool parse_fatbin(const std::vector<unsigned char>& section, std::vector<FatbinEntry>* entries,
                  std::string* why);

// Lists the symbol table of a CUDA ELF64 cubin.
bool read_cubin_symbols(const std::vector<unsigned char>& cubin, std::vector<CubinSymbol>* symbols,
                        std::string* why);
