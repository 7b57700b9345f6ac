// Checks the device module linked into laplace_bench: machine code and PTX for
// every architecture of the build, each with the kernel and the two filter
// tables in constant memory, initialised byte for byte.
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "fatbin_reader.h"

namespace {

const char kKernel[] = "_Z11kernel_convPhS_iii";

struct FilterTable {
    const char* name;
    unsigned char rim[4];     // every entry but the centre: -1
    unsigned char centre[4];  // entry 12: 24
};

const FilterTable kTables[] = {
    {"filter_laplace", {0xFF, 0xFF, 0xFF, 0xFF}, {0x18, 0x00, 0x00, 0x00}},
    {"filter_laplace_f", {0x00, 0x00, 0x80, 0xBF}, {0x00, 0x00, 0xC0, 0x41}},
};

std::vector<unsigned char> table_bytes(const FilterTable& table) {
    std::vector<unsigned char> bytes;
    for (int i = 0; i < 25; ++i) {
        const unsigned char* word = i == 12 ? table.centre : table.rim;
        bytes.insert(bytes.end(), word, word + 4);
    }
    return bytes;
}

// Empty when `got` holds exactly `want`, else where they first part.
template <typename Value>
std::string mismatch(const std::vector<Value>& got, const std::vector<unsigned char>& want) {
    if (got.size() != want.size()) {
        return std::to_string(got.size()) + " bytes, want " + std::to_string(want.size());
    }
    for (size_t i = 0; i < want.size(); ++i) {
        if (got[i] != want[i]) {
            return "byte " + std::to_string(i) + " is " + std::to_string(got[i]) + ", want " +
                   std::to_string(want[i]);
        }
    }
    return "";
}

struct DeviceModule {
    std::vector<FatbinEntry> entries;
    std::string error;
};

const DeviceModule& device_module() {
    static const DeviceModule module = [] {
        DeviceModule read;
        std::vector<unsigned char> section;
        if (read_fatbin_section(DEVICE_MODULE_OBJCOPY, DEVICE_MODULE_BINARY, &section,
                                &read.error)) {
            parse_fatbin(section, &read.entries, &read.error);
        }
        return read;
    }();
    return module;
}

std::vector<const FatbinEntry*> entries_of(uint16_t kind) {
    std::vector<const FatbinEntry*> found;
    for (const FatbinEntry& entry : device_module().entries) {
        if (entry.kind == kind) found.push_back(&entry);
    }
    return found;
}

std::string sm_name(unsigned sm) { return "sm_" + std::to_string(sm); }

std::string ptx_text(const FatbinEntry& entry) {
    return std::string(entry.payload.begin(),
                       std::find(entry.payload.begin(), entry.payload.end(), '\0'));
}

const CubinSymbol* find_symbol(const std::vector<CubinSymbol>& symbols, const std::string& name) {
    const auto found = std::find_if(symbols.begin(), symbols.end(),
                                    [&name](const CubinSymbol& s) { return s.name == name; });
    return found == symbols.end() ? nullptr : &*found;
}

// Records a failure naming the SM when the cubin cannot be read.
bool cubin_symbols(const FatbinEntry& cubin, std::vector<CubinSymbol>* symbols) {
    std::string why;
    const bool read = read_cubin_symbols(cubin.payload, symbols, &why);
    if (!read) ADD_FAILURE() << sm_name(cubin.sm) << ": " << why;
    return read;
}

class DeviceModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(device_module().error, "")
            << "reading the device module of " << DEVICE_MODULE_BINARY;
    }
};

TEST_F(DeviceModuleTest, HoldsOneCubinAndOnePtxPerArchitecture) {
    struct Counts {
        int cubins = 0;
        int ptx = 0;
    };
    std::map<unsigned, Counts> expected;
    std::istringstream architectures(DEVICE_MODULE_ARCHITECTURES);
    for (std::string arch; architectures >> arch;) {
        ASSERT_TRUE(std::all_of(arch.begin(), arch.end(),
                                [](unsigned char c) { return std::isdigit(c) != 0; }))
            << "architecture '" << arch << "' is not a plain SM number, which builds both";
        expected[std::stoul(arch)] = Counts{1, 1};
    }
    ASSERT_FALSE(expected.empty()) << "no architectures given";

    std::map<unsigned, Counts> found;
    for (const FatbinEntry& entry : device_module().entries) {
        if (entry.kind == kFatbinCubin) {
            ++found[entry.sm].cubins;
        } else if (entry.kind == kFatbinPtx) {
            ++found[entry.sm].ptx;
        } else {
            ADD_FAILURE() << sm_name(entry.sm) << ": unexpected entry of kind " << entry.kind;
        }
    }
    std::set<unsigned> sms;
    for (const auto& item : expected) sms.insert(item.first);
    for (const auto& item : found) sms.insert(item.first);
    for (const unsigned sm : sms) {
        EXPECT_EQ(found[sm].cubins, expected[sm].cubins) << sm_name(sm) << " cubins";
        EXPECT_EQ(found[sm].ptx, expected[sm].ptx) << sm_name(sm) << " PTX";
    }
}

TEST_F(DeviceModuleTest, CubinsExportTheKernel) {
    for (const FatbinEntry* cubin : entries_of(kFatbinCubin)) {
        const std::string sm = sm_name(cubin->sm);
        std::vector<CubinSymbol> symbols;
        if (!cubin_symbols(*cubin, &symbols)) continue;
        const CubinSymbol* kernel = find_symbol(symbols, kKernel);
        if (kernel == nullptr) {
            ADD_FAILURE() << sm << ": no symbol " << kKernel;
            continue;
        }
        EXPECT_EQ(kernel->type, STT_FUNC) << sm;
        EXPECT_GT(kernel->size, 0u) << sm;
    }
}

TEST_F(DeviceModuleTest, CubinsHoldTheFilterTablesInConstantMemory) {
    for (const FatbinEntry* cubin : entries_of(kFatbinCubin)) {
        std::vector<CubinSymbol> symbols;
        if (!cubin_symbols(*cubin, &symbols)) continue;
        for (const FilterTable& table : kTables) {
            const std::string where = sm_name(cubin->sm) + " " + table.name;
            const CubinSymbol* symbol = find_symbol(symbols, table.name);
            if (symbol == nullptr) {
                ADD_FAILURE() << where << ": no such symbol";
                continue;
            }
            EXPECT_EQ(symbol->type, STT_OBJECT) << where;
            EXPECT_EQ(symbol->size, 100u) << where;
            EXPECT_TRUE(symbol->section.rfind(".nv.constant", 0) == 0)
                << where << " lies in " << symbol->section;
            EXPECT_EQ(mismatch(symbol->bytes, table_bytes(table)), "") << where;
        }
    }
}

TEST_F(DeviceModuleTest, PtxTargetsTheSmItIsFiledUnder) {
    for (const FatbinEntry* ptx : entries_of(kFatbinPtx)) {
        const std::string target = "\n.target " + sm_name(ptx->sm) + "\n";
        EXPECT_TRUE(ptx_text(*ptx).find(target) != std::string::npos)
            << sm_name(ptx->sm) << ": PTX lacks '.target " << sm_name(ptx->sm) << "'";
    }
}

TEST_F(DeviceModuleTest, PtxDeclaresTheKernelEntry) {
    const std::string entry = std::string(".visible .entry ") + kKernel + "(";
    for (const FatbinEntry* ptx : entries_of(kFatbinPtx)) {
        EXPECT_TRUE(ptx_text(*ptx).find(entry) != std::string::npos)
            << sm_name(ptx->sm) << ": PTX lacks " << entry;
    }
}

TEST_F(DeviceModuleTest, PtxInitialisesTheFilterTables) {
    for (const FatbinEntry* ptx : entries_of(kFatbinPtx)) {
        const std::string text = ptx_text(*ptx);
        for (const FilterTable& table : kTables) {
            const std::string where = sm_name(ptx->sm) + " " + table.name;
            // nvcc writes constant initialisers as byte arrays.
            const std::regex declaration(std::string(R"(\.const\s+(?:\.align\s+\d+\s+)?\.b8\s+)") +
                                         table.name + R"(\[(\d+)\]\s*=\s*\{([^}]*)\})");
            std::smatch match;
            if (!std::regex_search(text, match, declaration)) {
                ADD_FAILURE() << where << ": no '.const .b8 " << table.name << "[...] = {...}'";
                continue;
            }
            EXPECT_EQ(match[1].str(), "100") << where;
            std::vector<unsigned long> initialiser;
            std::istringstream values(match[2].str());
            for (std::string value; std::getline(values, value, ',');) {
                initialiser.push_back(std::stoul(value));
            }
            EXPECT_EQ(mismatch(initialiser, table_bytes(table)), "") << where;
        }
    }
}

}  // namespace
