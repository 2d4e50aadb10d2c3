// Tree arenas and the cache of blocks under them.
#include "parser/arena.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "parser/parser.hpp"
#include "platform/platform.hpp"

namespace kiln {
namespace {

// Keeps the block of the last tree released, for the next tree to start in. Without it, a
// text parsed after another (a sourced file, a function's text read again) would have its
// block mapped afresh by the system and faulted in page by page (paid for by the parse-only
// and sourced-script shapes of bench/language.sh).
class BlockCache {
public:
    using Block = TreeMemory::Block;
    BlockCache() = default;
    BlockCache(const BlockCache&) = delete;
    BlockCache& operator=(const BlockCache&) = delete;
    ~BlockCache() { platform::free_block(kept_.p, kept_.size); }

    Block take() { return std::exchange(kept_, {}); }
    void give(Block block) {
        if (block.size > kMaxKept || block.size <= kept_.size) {
            platform::free_block(block.p, block.size);
            return;
        }
        const Block old = std::exchange(kept_, block);
        platform::free_block(old.p, old.size);
    }

private:
    static constexpr std::size_t kMaxKept = std::size_t{32} << 20;
    Block kept_;
};

BlockCache& block_cache() {
    static BlockCache cache;
    return cache;
}

// The dollar forms of a piece, whose first `skip` bytes are left out, appended to `out`;
// true when the piece is unquoted and has a pattern character of its own. The lexer's marks
// spare the many pieces with neither a reading.
bool read_forms(const TokSeg& seg, std::size_t skip, std::vector<DollarForm>& out) {
    const std::string_view text = std::string_view(seg.text).substr(skip);
    const bool patterns = seg.quote == Quote::None && (seg.marks & kMayHavePattern);
    if (seg.quote == Quote::Single || !(seg.marks & (kMayHaveDollar | kMayHavePattern))) {
        return false;
    }
    const bool pattern =
        read_dollar_forms(text, seg.quote == Quote::Double, seg.commands, skip, out);
    return patterns && pattern;
}

}  // namespace

struct TreeMemory::Scratch {
    std::vector<DollarForm> forms;
};

struct ParsedCommand {
    Result<Tree, std::string> tree;
};

// The block of a tree and the trees of its command substitutions.
struct TreeMemory::Arena {
    Block block;  // place 0 is no place, and the first 8 bytes hold nothing
    std::vector<std::unique_ptr<ParsedCommand>> commands;  // the cells' parsed texts

    Arena() : block(block_cache().take()) { block.used = 8; }
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;
    ~Arena() { block_cache().give(block); }
};

TreeMemory::TreeMemory()
    : arena_(std::make_shared<Arena>()),
      block_(&arena_->block),
      scratch_(std::make_unique<Scratch>()) {}

TreeMemory::~TreeMemory() = default;

TreeMemory::Place TreeMemory::here() const {
    return static_cast<Place>(block_->used);
}

void TreeMemory::rewind(Place place) {
    block_->used = place;
}

void TreeMemory::grow(std::size_t size) {
    // Places are four-byte numbers.
    constexpr std::size_t kMaxBlock = std::numeric_limits<Place>::max();
    if (size > kMaxBlock) throw std::bad_alloc();
    std::size_t grown = std::max<std::size_t>(block_->size, 4096);
    while (grown < size)
        grown = std::min(grown + grown / 2, kMaxBlock);
    void* p = platform::resize_block(block_->p, block_->size, grown);
    if (!p) throw std::bad_alloc();
    block_->p = static_cast<char*>(p);
    block_->size = grown;
}

void TreeMemory::mark(Place place, std::uint8_t bits) {
    block_->p[place] = static_cast<char>(block_->p[place] | bits);
}

TreeMemory::Place TreeMemory::begin(NodeKind kind, bool flag) {
    const Place place = here();
    put_byte(static_cast<std::uint8_t>(kind) | (flag ? kNodeFlag : 0));
    return place;
}

TreeMemory::Place TreeMemory::reserve_place() {
    const Place slot = here();
    put_u32(0);
    return slot;
}

void TreeMemory::patch(Place slot, std::uint32_t value) {
    std::memcpy(block_->p + slot, &value, 4);
}

void TreeMemory::put_places(std::span<const Place> places) {
    put_count(places.size());
    if (places.empty()) return;  // an empty list may have no storage at all
    std::memcpy(allocate(places.size_bytes()), places.data(), places.size_bytes());
}

void TreeMemory::put_text(std::string_view text) {
    put_count(text.size());
    std::copy(text.begin(), text.end(), allocate(text.size()));
}

// Each piece as seg_layout says: its forms at the next multiple of four and its cells at the
// next multiple of eight, counted from the start of the block, which is so aligned.
void TreeMemory::put_word(const TokSegs& segs, std::size_t skip) {
    using namespace seg_layout;
    static_assert(alignof(DollarForm) <= 4 && std::is_trivially_copyable_v<DollarForm>);
    constexpr std::size_t kMaxPiece = std::numeric_limits<std::uint32_t>::max() >> kLengthShift;
    std::vector<DollarForm>& forms = scratch_->forms;
    for (std::size_t i = 0; i < segs.size(); ++i) {
        const TokSeg& seg = segs[i];
        const std::size_t skipped = std::exchange(skip, 0);
        const std::string_view text = std::string_view(seg.text).substr(skipped);
        if (text.size() > kMaxPiece) throw std::bad_alloc();
        forms.clear();
        auto flags = static_cast<std::uint32_t>(seg.quote);
        if (read_forms(seg, skipped, forms)) flags |= kPattern;
        if (!forms.empty()) flags |= kHasForms;
        if (i + 1 == segs.size()) flags |= kLast;
        put_u32(static_cast<std::uint32_t>(text.size() << kLengthShift) | flags);
        std::memcpy(allocate(text.size()), text.data(), text.size());
        if (forms.empty()) continue;
        if (forms.size() >= kHasCells) throw std::bad_alloc();
        const bool cells = has_command(forms);
        char* out = allocate(4 + forms.size() * sizeof(DollarForm), 4);
        const auto count = static_cast<std::uint32_t>(forms.size()) | (cells ? kHasCells : 0);
        std::memcpy(out, &count, 4);
        std::memcpy(out + 4, forms.data(), forms.size() * sizeof(DollarForm));
        if (!cells) continue;
        out = allocate(forms.size() * sizeof(CommandCell), alignof(CommandCell));
        std::uninitialized_fill_n(reinterpret_cast<CommandCell*>(out), forms.size(),
                                  CommandCell{nullptr, arena_.get()});
    }
}

Tree TreeMemory::finish(Place root) {
    return Tree{arena_, Node(block_->p, root)};
}

const Result<Tree, std::string>& parse_command_text(const CommandCell& cell,
                                                    std::string_view text) {
    if (!cell.parsed) {
        auto& commands = static_cast<TreeMemory::Arena*>(cell.owner)->commands;
        commands.push_back(std::make_unique<ParsedCommand>(ParsedCommand{parse_text(text)}));
        cell.parsed = commands.back().get();
    }
    return cell.parsed->tree;
}

}  // namespace kiln
