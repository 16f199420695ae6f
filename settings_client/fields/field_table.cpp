// The field table: the rows of field_rows.h expanded at compile time into
// three constant arrays, one per block of valid ids, each field packed into
// 16 bits. The rows are checked against the block summary, the entry totals,
// the list of unused command codes and the mapped write's index map; a row
// that disagrees stops the build.
//
// A lookup compares the whole id with the three blocks and indexes the
// block's array: constant time over read-only data, no lock, no heap.
#include "fields/field_table.h"

#include <array>
#include <cstddef>

#include "fields/field_rows.h"
#include "fields/shared_entries.h"

namespace settings_client {

// Never defined: a malformed row reaches it during constant evaluation,
// which stops the build at the offending call.
void MalformedFieldRow(const char* what);

namespace {

using field_rows::FieldBlock;
using field_rows::FieldRow;
using field_rows::kEntryCounts;
using field_rows::kFieldBlocks;
using field_rows::kFieldRows;

// Reads a list such as "3, 5-8, 72" number by number.
class NumberList {
  public:
    constexpr explicit NumberList(const char* text) : next_(text == nullptr ? "" : text) {}

    constexpr bool Next(int32_t* value) {
        if (remaining_in_run_ > 0) {
            --remaining_in_run_;
            *value = ++current_;
            return true;
        }
        if (*next_ == '\0') return false;
        if (started_) {
            if (next_[0] != ',' || next_[1] != ' ') MalformedFieldRow("\", \" expected");
            next_ += 2;
        }
        started_ = true;
        current_ = ReadNumber();
        if (*next_ == '-') {
            ++next_;
            const int32_t last = ReadNumber();
            if (last <= current_) MalformedFieldRow("a run must ascend");
            remaining_in_run_ = last - current_;
        }
        *value = current_;
        return true;
    }

  private:
    constexpr int32_t ReadNumber() {
        if (*next_ < '0' || *next_ > '9') MalformedFieldRow("number expected");
        int32_t number = 0;
        while (*next_ >= '0' && *next_ <= '9') {
            number = number * 10 + (*next_ - '0');
            if (number > 0xFFFF) MalformedFieldRow("number too large");
            ++next_;
        }
        return number;
    }

    const char* next_;
    bool started_ = false;
    int32_t current_ = 0;
    int32_t remaining_in_run_ = 0;
};

constexpr bool TakesIndex(Entry entry) {
    return entry == Entry::kIndexedWrite || entry == Entry::kIndexedExchange ||
           entry == Entry::kMappedWrite;
}

// The shape a shared entry always uses.
constexpr Shape ShapeOfSharedEntry(Entry entry) {
    switch (entry) {
        case Entry::kSettingsRead:
            return Shape::kReadExactKeepLength;
        case Entry::kIndexedExchange:
            return Shape::kExchange;
        default:
            return Shape::kWrite;
    }
}

// One expanded field.
struct Field {
    uint32_t id;
    int32_t command;
    int32_t index;  // -1 unless the entry takes an index
    Shape shape;
    Entry entry;
};

// Calls visit(field) for every field of every row, in row order. Returns
// false when a row's id range, command list, index list and field count do
// not all agree.
template <typename Visit>
consteval bool ForEachField(Visit visit) {
    for (const FieldRow& row : kFieldRows) {
        if (row.last_id < row.first_id) return false;
        if (TakesIndex(row.entry) != (row.indices != nullptr)) return false;
        NumberList commands(row.commands);
        NumberList indices(row.indices);
        int32_t fields = 0;
        for (uint64_t id = row.first_id; id <= row.last_id; ++id) {
            Field field{static_cast<uint32_t>(id), 0, -1, row.shape, row.entry};
            if (!commands.Next(&field.command)) return false;
            if (row.indices != nullptr && !indices.Next(&field.index)) return false;
            visit(field);
            ++fields;
        }
        int32_t extra = 0;
        if (commands.Next(&extra) || indices.Next(&extra)) return false;
        if (fields != row.fields) return false;
    }
    return true;
}

consteval bool RowsAreWellFormed() {
    return ForEachField([](const Field&) {});
}

// The rows run in ascending id order without gap or overlap and fill
// exactly the three blocks, whose sizes add up to 583.
consteval bool RowsFillExactlyTheBlocks() {
    int32_t total = 0;
    for (const FieldBlock& block : kFieldBlocks) {
        if (block.last_id < block.first_id) return false;
        if (static_cast<int64_t>(block.last_id - block.first_id) + 1 != block.fields) return false;
        total += block.fields;
    }
    if (total != 583) return false;

    size_t block = 0;
    uint64_t expected = kFieldBlocks[0].first_id;
    for (const FieldRow& row : kFieldRows) {
        if (block >= std::size(kFieldBlocks) || row.first_id != expected) return false;
        if (row.last_id > kFieldBlocks[block].last_id) return false;
        expected = static_cast<uint64_t>(row.last_id) + 1;
        if (row.last_id == kFieldBlocks[block].last_id) {
            ++block;
            if (block < std::size(kFieldBlocks)) expected = kFieldBlocks[block].first_id;
        }
    }
    return block == std::size(kFieldBlocks);
}

// Every command from 0 to the highest is sent by exactly one field, except
// the listed codes, which no field sends.
consteval bool EveryCommandExactlyOnce() {
    constexpr int32_t kCodes = field_rows::kHighestCommand + 1;
    std::array<int32_t, kCodes> senders{};
    bool in_range = true;
    const bool well_formed = ForEachField([&](const Field& field) {
        if (field.command < 0 || field.command >= kCodes) {
            in_range = false;
        } else {
            ++senders[static_cast<size_t>(field.command)];
        }
    });
    if (!well_formed || !in_range) return false;

    NumberList unused(field_rows::kCommandsOfNoField);
    int32_t code = 0;
    while (unused.Next(&code)) {
        if (code < 0 || code >= kCodes || senders[static_cast<size_t>(code)] != 0) return false;
        senders[static_cast<size_t>(code)] = 1;  // counted once from here on
    }
    for (int32_t count : senders) {
        if (count != 1) return false;
    }
    return true;
}

// Each block holds as many fields of each shape as its summary says.
consteval bool ShapeCountsMatchTheBlocks() {
    for (const FieldBlock& block : kFieldBlocks) {
        std::array<int32_t, kShapeCount> expected{};
        int32_t listed = 0;
        for (const field_rows::ShapeCount& count : block.shapes) {
            expected[static_cast<size_t>(count.shape)] += count.fields;
            listed += count.fields;
        }
        if (listed != block.fields) return false;

        std::array<int32_t, kShapeCount> found{};
        ForEachField([&](const Field& field) {
            if (field.id >= block.first_id && field.id <= block.last_id) {
                ++found[static_cast<size_t>(field.shape)];
            }
        });
        if (found != expected) return false;
    }
    return true;
}

// Each entry serves as many fields as its total says; the indexed and
// mapped entries serve exactly their run of ids.
consteval bool EntryCountsMatch() {
    for (const field_rows::EntryCount& expected : kEntryCounts) {
        int32_t found = 0;
        bool inside_run = true;
        ForEachField([&](const Field& field) {
            if (field.entry != expected.entry) return;
            ++found;
            if (TakesIndex(field.entry) &&
                (field.id < expected.first_id || field.id > expected.last_id)) {
                inside_run = false;
            }
        });
        if (found != expected.fields || !inside_run) return false;
        if (TakesIndex(expected.entry) &&
            static_cast<int64_t>(expected.last_id - expected.first_id) + 1 != expected.fields) {
            return false;
        }
    }
    return true;
}

// A shared entry always has its own shape, and the command it derives from
// the index the dispatcher passes is the command the row lists. The
// indexed entries are passed the id less their first id.
consteval bool SharedEntriesSendTheListedCommands() {
    bool consistent = true;
    ForEachField([&](const Field& field) {
        if (field.entry == Entry::kOwn) return;
        if (field.shape != ShapeOfSharedEntry(field.entry)) consistent = false;
        switch (field.entry) {
            case Entry::kIndexedWrite:
                consistent = consistent && field.index == static_cast<int32_t>(field.id - 0x1135) &&
                             IndexedCommand(field.index, kIndexedWriteBase) == field.command;
                break;
            case Entry::kIndexedExchange:
                consistent = consistent && field.index == static_cast<int32_t>(field.id - 0x113A) &&
                             IndexedCommand(field.index, kIndexedExchangeBase) == field.command;
                break;
            case Entry::kMappedWrite:
                consistent =
                    consistent && field.index >= 0 &&
                    MappedWriteCommand(static_cast<uint32_t>(field.index)) == field.command;
                break;
            default:
                break;
        }
    });
    return consistent;
}

// The index map has 54 indices in four ranges, each passed by exactly one
// mapped field; every other index, however large, gives command 0.
consteval bool MappedIndicesAreUsedOnce() {
    constexpr uint32_t kProbe = 128;
    std::array<int32_t, kProbe> passed{};
    ForEachField([&](const Field& field) {
        if (field.entry == Entry::kMappedWrite && field.index >= 0 &&
            static_cast<uint32_t>(field.index) < kProbe) {
            ++passed[static_cast<size_t>(field.index)];
        }
    });
    int32_t mapped = 0;
    for (uint32_t index = 0; index < kProbe; ++index) {
        const bool in_map = MappedWriteCommand(index) != 0;
        if (passed[index] != (in_map ? 1 : 0)) return false;
        mapped += in_map ? 1 : 0;
    }
    for (const MappedIndexRange& range : kMappedIndexMap) {
        if (range.last_index >= kProbe) return false;
    }
    return mapped == 54 && MappedWriteCommand(0xFFFFFFFFu) == 0 &&
           MappedWriteCommand(0x80000007u) == 0;
}

static_assert(RowsAreWellFormed(),
              "each row lists one command (and, for indexed or mapped entries, one index) per "
              "field id, and its field count matches its id range");
static_assert(RowsFillExactlyTheBlocks(),
              "the rows fill the blocks 0x0000-0x0041, 0x1000-0x1162 and 0x2000-0x20A1 in order, "
              "583 ids, without gap or overlap");
static_assert(EveryCommandExactlyOnce(),
              "the commands are exactly 0-595 less 87-89, 433, 498 and 533-540, none twice");
static_assert(ShapeCountsMatchTheBlocks(), "the fields of each shape per block match the summary");
static_assert(EntryCountsMatch(),
              "own 421, SettingsRead 15, SettingsWrite 83, indexed write 5, indexed exchange 5, "
              "mapped write 54");
static_assert(SharedEntriesSendTheListedCommands(),
              "shared entries keep their shape and derive the command the row lists");
static_assert(MappedIndicesAreUsedOnce(),
              "the mapped write's 54 indices are each passed by exactly one field");

// Packed field: bits 10-13 the route, bits 0-9 the argument (command, or
// index for the indexed and mapped entries). Route 0-8 is the field's own
// request of that shape; route 9 and up is a shared entry.
using PackedField = uint16_t;
constexpr int kArgumentBits = 10;
constexpr int32_t kArgumentMask = (1 << kArgumentBits) - 1;
constexpr int32_t kFirstSharedRoute = kShapeCount - 1;  // + Entry, which starts at 1

constexpr PackedField Pack(const Field& field) {
    const int32_t route = field.entry == Entry::kOwn
                              ? static_cast<int32_t>(field.shape)
                              : kFirstSharedRoute + static_cast<int32_t>(field.entry);
    const int32_t argument = TakesIndex(field.entry) ? field.index : field.command;
    if (argument < 0 || argument > kArgumentMask) MalformedFieldRow("argument does not fit");
    return static_cast<PackedField>((route << kArgumentBits) | argument);
}

constexpr FieldRoute Unpack(PackedField packed) {
    const int32_t route = packed >> kArgumentBits;
    const int32_t argument = packed & kArgumentMask;
    if (route < kShapeCount) return {Entry::kOwn, static_cast<Shape>(route), argument};
    const auto entry = static_cast<Entry>(route - kFirstSharedRoute);
    return {entry, ShapeOfSharedEntry(entry), argument};
}

template <size_t kBlock>
consteval auto ExpandBlock() {
    constexpr FieldBlock block = kFieldBlocks[kBlock];
    std::array<PackedField, static_cast<size_t>(block.fields)> packed{};
    ForEachField([&](const Field& field) {
        // Runs only in the compiler; the analyzer cannot see `block`'s value.
        // NOLINTNEXTLINE(clang-analyzer-core.UndefinedBinaryOperatorResult)
        if (field.id >= block.first_id && field.id <= block.last_id) {
            packed[field.id - block.first_id] = Pack(field);
        }
    });
    return packed;
}

constexpr auto kBlock0 = ExpandBlock<0>();
constexpr auto kBlock1 = ExpandBlock<1>();
constexpr auto kBlock2 = ExpandBlock<2>();

// Unpacking gives back every field as the rows describe it.
consteval bool PackingIsLossless() {
    bool lossless = true;
    ForEachField([&](const Field& field) {
        const PackedField* block = field.id < 0x1000   ? kBlock0.data()
                                   : field.id < 0x2000 ? kBlock1.data()
                                                       : kBlock2.data();
        const FieldRoute route = Unpack(block[field.id & 0xFFF]);
        const int32_t argument = TakesIndex(field.entry) ? field.index : field.command;
        lossless = lossless && route.entry == field.entry && route.shape == field.shape &&
                   route.argument == argument;
    });
    return lossless;
}
static_assert(PackingIsLossless(), "a packed field unpacks to its row");

struct BlockView {
    uint32_t first_id;
    uint32_t last_id;
    const PackedField* fields;
};

constexpr BlockView kBlocks[] = {
    {kFieldBlocks[0].first_id, kFieldBlocks[0].last_id, kBlock0.data()},
    {kFieldBlocks[1].first_id, kFieldBlocks[1].last_id, kBlock1.data()},
    {kFieldBlocks[2].first_id, kFieldBlocks[2].last_id, kBlock2.data()},
};

}  // namespace

bool LookUpField(uint32_t field_id, FieldRoute* route) {
    for (const BlockView& block : kBlocks) {
        if (field_id >= block.first_id && field_id <= block.last_id) {
            *route = Unpack(block.fields[field_id - block.first_id]);
            return true;
        }
    }
    return false;
}

}  // namespace settings_client
