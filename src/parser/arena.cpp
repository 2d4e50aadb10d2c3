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

namespace kiln {
namespace {

// Keeps the block of the last tree released, for the next tree to start in. Without it, a
// text parsed after another (a sourced file, a function's text read again) would have its
// block mapped afresh by the system and faulted in page by page (paid for by the parse-only
// and sourced-script shapes of bench/language.sh).
class BlockCache {
public:
    struct Block {
        char* p = nullptr;
        std::size_t size = 0;
    };
    BlockCache() = default;
    BlockCache(const BlockCache&) = delete;
    BlockCache& operator=(const BlockCache&) = delete;
    ~BlockCache() { std::free(kept_.p); }

    Block take() { return std::exchange(kept_, {}); }
    void give(Block block) {
        if (block.size > kMaxKept || block.size <= kept_.size) {
            std::free(block.p);
            return;
        }
        std::free(std::exchange(kept_, block).p);
    }

private:
    static constexpr std::size_t kMaxKept = std::size_t{32} << 20;
    Block kept_;
};

BlockCache& block_cache() {
    static BlockCache cache;
    return cache;
}

struct PieceLayout {
    std::string_view text;  // after the skipped bytes
    std::uint32_t flags = 0;
    std::size_t forms_at = 0;  // where its forms begin among all of the word's
    std::size_t forms = 0;
};

// The dollar forms of a piece with the marks the lexer gave it, appended to `out`; true when
// the piece is unquoted and has a pattern character of its own.
bool read_forms(std::string_view text, Quote quote, unsigned marks, std::vector<DollarForm>& out) {
    if (quote == Quote::Single) return false;
    if (marks & kMayHaveDollar) {
        std::size_t pos = 0;
        while (auto form = next_dollar_form(text, pos, quote == Quote::Double)) {
            out.push_back(*form);
            pos = form->end;
        }
    }
    if (quote != Quote::None || !(marks & kMayHavePattern)) return false;
    return has_typed_pattern_chars(text);
}

}  // namespace

struct TreeMemory::Scratch {
    std::vector<PieceLayout> pieces;
    std::vector<DollarForm> forms;
};

struct ParsedCommand {
    Result<Tree, std::string> tree;
};

// The block of a tree and the trees of its command substitutions.
struct TreeMemory::Arena {
    BlockCache::Block block;
    std::size_t used = 8;  // place 0 is no place, and the first 8 bytes hold nothing
    std::vector<std::unique_ptr<ParsedCommand>> commands;  // the cells' parsed texts

    Arena() : block(block_cache().take()) {}
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;
    ~Arena() { block_cache().give(block); }
};

TreeMemory::TreeMemory()
    : arena_(std::make_shared<Arena>()), scratch_(std::make_unique<Scratch>()) {}

TreeMemory::~TreeMemory() = default;

char* TreeMemory::at(std::uint32_t place) const {
    return arena_->block.p + place;
}

std::uint32_t TreeMemory::allocate(std::size_t size, std::size_t align) {
    Arena& arena = *arena_;
    const std::size_t place = (arena.used + align - 1) / align * align;
    // Places and distances are four-byte signed numbers.
    constexpr std::size_t kMaxBlock = std::numeric_limits<std::int32_t>::max();
    if (size > kMaxBlock - place) throw std::bad_alloc();
    if (place + size > arena.block.size) {
        std::size_t grown = std::max<std::size_t>(arena.block.size, 4096);
        while (grown < place + size)
            grown = std::min(grown + grown / 2, kMaxBlock);
        // A large block grows by remapping its pages, not by copying them.
        void* p = std::realloc(arena.block.p, grown);
        if (!p) throw std::bad_alloc();
        arena.block = {static_cast<char*>(p), grown};
    }
    arena.used = place + size;
    return static_cast<std::uint32_t>(place);
}

Ref<Node> TreeMemory::make(const Node& node) {
    const std::uint32_t place = allocate(sizeof(Node), alignof(Node));
    Node* out = ::new (at(place)) Node(node);
    settle(*out);
    return placed<Ref<Node>>(place);
}

Tree TreeMemory::finish(const Node& root) {
    const Ref<Node> top = make(root);
    return Tree{arena_, reinterpret_cast<const Node*>(at(top.delta_))};
}

void TreeMemory::put_count(char* at, std::size_t n) {
    if (n > std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
    const auto count = static_cast<std::uint32_t>(n);
    std::memcpy(at, &count, sizeof count);
}

Ref<Text> TreeMemory::copy(std::string_view text) {
    if (text.size() > std::numeric_limits<std::int32_t>::max()) throw std::bad_alloc();
    const std::uint32_t place = allocate(4 + text.size(), 1);
    put_count(at(place), text.size());
    std::copy(text.begin(), text.end(), at(place) + 4);
    return placed<Ref<Text>>(place);
}

// Reads the pieces of a word into the scratch lists and returns the size of its layout,
// measured from a start aligned as word_align says.
std::size_t TreeMemory::lay_out(const TokSegs& segs, std::size_t skip) {
    using namespace seg_layout;
    constexpr std::size_t kMaxPiece = std::numeric_limits<std::uint32_t>::max() >> kLengthShift;
    std::vector<PieceLayout>& pieces = scratch_->pieces;
    std::vector<DollarForm>& forms = scratch_->forms;
    pieces.clear();
    forms.clear();
    std::size_t size = 0;
    for (const TokSeg& seg : segs) {
        PieceLayout piece{std::string_view(seg.text).substr(std::exchange(skip, 0)),
                          static_cast<std::uint32_t>(seg.quote), forms.size(), 0};
        if (piece.text.size() > kMaxPiece) throw std::bad_alloc();
        if (read_forms(piece.text, seg.quote, seg.marks, forms)) {
            piece.flags |= kPattern;
        }
        piece.forms = forms.size() - piece.forms_at;
        size += 4 + piece.text.size();
        if (piece.forms > 0) {
            piece.flags |= kHasForms;
            size = aligned(size, 4) + 4 + piece.forms * sizeof(DollarForm);
            if (has_command(std::span(forms).subspan(piece.forms_at))) {
                size = aligned(size, alignof(CommandCell)) + piece.forms * sizeof(CommandCell);
            }
        }
        pieces.push_back(piece);
    }
    pieces.back().flags |= kLast;
    return size;
}

// What the start of the word just laid out is aligned to: as its forms and cells need.
std::size_t TreeMemory::word_align() const {
    if (scratch_->forms.empty()) return 1;
    return seg_layout::has_command(scratch_->forms) ? alignof(CommandCell) : 4;
}

// A word of one piece without a dollar form, as nearly every word is, laid out in one go
// (paid for by the parse-only shape of bench/language.sh).
std::optional<Ref<Word>> TreeMemory::copy_plain(const TokSeg& seg, std::size_t skip) {
    using namespace seg_layout;
    const std::string_view text = std::string_view(seg.text).substr(skip);
    if (seg.quote != Quote::Single && (seg.marks & kMayHaveDollar)) return std::nullopt;
    std::uint32_t flags = static_cast<std::uint32_t>(seg.quote) | kLast;
    if (seg.quote == Quote::None && (seg.marks & kMayHavePattern) &&
        has_typed_pattern_chars(text)) {
        flags |= kPattern;
    }
    if (text.size() > (std::numeric_limits<std::uint32_t>::max() >> kLengthShift)) {
        throw std::bad_alloc();
    }
    const std::uint32_t place = allocate(4 + text.size(), 1);
    char* out = at(place);
    put_count(out, text.size() << kLengthShift | flags);
    std::copy(text.begin(), text.end(), out + 4);
    return placed<Ref<Word>>(place);
}

// Each piece as seg_layout says.
Ref<Word> TreeMemory::copy(const TokSegs& segs, std::size_t skip) {
    using namespace seg_layout;
    static_assert(alignof(DollarForm) <= 4 && std::is_trivially_copyable_v<DollarForm>);
    if (segs.size() == 1) {
        if (const std::optional<Ref<Word>> word = copy_plain(segs[0], skip)) return *word;
    }
    const std::size_t size = lay_out(segs, skip);
    const std::uint32_t place = allocate(size, word_align());
    char* const out = at(place);
    std::size_t offset = 0;
    for (const PieceLayout& piece : scratch_->pieces) {
        put_count(out + offset, piece.text.size() << kLengthShift | piece.flags);
        std::copy(piece.text.begin(), piece.text.end(), out + offset + 4);
        offset += 4 + piece.text.size();
        if (piece.forms == 0) continue;
        offset = aligned(offset, 4);
        put_count(out + offset, piece.forms);
        const auto first = std::span(scratch_->forms).subspan(piece.forms_at, piece.forms);
        std::memcpy(out + offset + 4, first.data(), first.size_bytes());
        offset += 4 + first.size_bytes();
        if (!has_command(first)) continue;
        offset = aligned(offset, alignof(CommandCell));
        std::uninitialized_fill_n(reinterpret_cast<CommandCell*>(out + offset), piece.forms,
                                  CommandCell{nullptr, arena_.get()});
        offset += piece.forms * sizeof(CommandCell);
    }
    return placed<Ref<Word>>(place);
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
