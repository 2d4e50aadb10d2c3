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

// Keeps blocks that arenas release and hands them out again for requests of the same size.
// An arena asks for blocks of growing sizes, always the same sequence, so a parse of the
// next text finds the blocks of the last one. Without it, every block of a large tree would
// be mapped afresh by the system and faulted in page by page (paid for by the parse-only and
// sourced-script shapes of bench/language.sh).
class BlockCache final : public std::pmr::memory_resource {
public:
    BlockCache() = default;
    BlockCache(const BlockCache&) = delete;
    BlockCache& operator=(const BlockCache&) = delete;
    ~BlockCache() override {
        for (const Block& block : free_)
            upstream()->deallocate(block.p, block.size, block.align);
    }

private:
    struct Block {
        void* p;
        std::size_t size;
        std::size_t align;
    };
    static constexpr std::size_t kMaxCached = std::size_t{32} << 20;  // bytes kept at most

    static std::pmr::memory_resource* upstream() { return std::pmr::new_delete_resource(); }

    void* do_allocate(std::size_t size, std::size_t align) override {
        const auto it = std::find_if(free_.begin(), free_.end(), [&](const Block& block) {
            return block.size == size && block.align == align;
        });
        if (it == free_.end()) return upstream()->allocate(size, align);
        void* p = it->p;
        cached_ -= size;
        free_.erase(it);
        return p;
    }

    void do_deallocate(void* p, std::size_t size, std::size_t align) override {
        if (cached_ + size > kMaxCached) {
            upstream()->deallocate(p, size, align);
            return;
        }
        free_.push_back({p, size, align});
        cached_ += size;
    }

    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
        return this == &other;
    }

    std::vector<Block> free_;
    std::size_t cached_ = 0;
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

// The blocks of the arena, and the lists the parser gathered in blocks of their own.
struct TreeMemory::Arena {
    struct Free {
        void operator()(void* block) const { std::free(block); }
    };
    std::pmr::monotonic_buffer_resource blocks{&block_cache()};
    std::vector<std::unique_ptr<void, Free>> adopted;
    std::vector<std::unique_ptr<ParsedCommand>> commands;  // the cells' parsed texts
};

TreeMemory::TreeMemory()
    : arena_(std::make_shared<Arena>()),
      blocks_(&arena_->blocks),
      scratch_(std::make_unique<Scratch>()) {}

TreeMemory::~TreeMemory() = default;

void TreeMemory::adopt(void* block) {
    std::unique_ptr<void, Arena::Free> owned(block);
    arena_->adopted.push_back(std::move(owned));
}

void TreeMemory::put_count(char* at, std::size_t n) {
    if (n > std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
    const auto count = static_cast<std::uint32_t>(n);
    std::memcpy(at, &count, sizeof count);
}

Text TreeMemory::copy(std::string_view text) {
    char* out = static_cast<char*>(allocate(4 + text.size(), 4));
    put_count(out, text.size());
    std::copy(text.begin(), text.end(), out + 4);
    return Text(out + 4);
}

// Reads the pieces of a word into the scratch lists and returns the size of its layout,
// measured from a start aligned for CommandCell when any piece has cells.
std::size_t TreeMemory::lay_out(const TokSegs& segs, std::size_t skip) {
    using namespace seg_layout;
    constexpr std::size_t kMaxPiece = std::numeric_limits<std::uint32_t>::max() >> kLengthShift;
    std::vector<PieceLayout>& pieces = scratch_->pieces;
    std::vector<DollarForm>& forms = scratch_->forms;
    pieces.clear();
    forms.clear();
    std::size_t size = 4;
    for (const TokSeg& seg : segs) {
        PieceLayout piece{std::string_view(seg.text).substr(std::exchange(skip, 0)),
                          static_cast<std::uint32_t>(seg.quote), forms.size(), 0};
        if (piece.text.size() > kMaxPiece) throw std::bad_alloc();
        if (read_forms(piece.text, seg.quote, seg.marks, forms)) {
            piece.flags |= kPattern;
        }
        piece.forms = forms.size() - piece.forms_at;
        size += 4 + padded(piece.text.size());
        if (piece.forms > 0) {
            piece.flags |= kHasForms;
            size += 4 + piece.forms * sizeof(DollarForm);
            const auto first = forms.end() - static_cast<std::ptrdiff_t>(piece.forms);
            if (std::any_of(first, forms.end(), [](const DollarForm& form) {
                    return form.kind == DollarForm::Kind::Command;
                })) {
                piece.flags |= kHasCells;
                size = (size + alignof(CommandCell) - 1) / alignof(CommandCell) *
                           alignof(CommandCell) +
                       piece.forms * sizeof(CommandCell);
            }
        }
        pieces.push_back(piece);
    }
    return size;
}

// A word of one piece without a dollar form, as nearly every word is, laid out in one go
// (paid for by the parse-only shape of bench/language.sh).
std::optional<Word> TreeMemory::copy_plain(const TokSeg& seg, std::size_t skip) {
    using namespace seg_layout;
    const std::string_view text = std::string_view(seg.text).substr(skip);
    if (seg.quote != Quote::Single && (seg.marks & kMayHaveDollar)) return std::nullopt;
    std::uint32_t flags = static_cast<std::uint32_t>(seg.quote);
    if (seg.quote == Quote::None && (seg.marks & kMayHavePattern) &&
        has_typed_pattern_chars(text)) {
        flags |= kPattern;
    }
    if (text.size() > (std::numeric_limits<std::uint32_t>::max() >> kLengthShift)) {
        throw std::bad_alloc();
    }
    char* out = static_cast<char*>(allocate(8 + padded(text.size()), 4));
    put_count(out, 1);
    put_count(out + 4, text.size() << kLengthShift | flags);
    std::copy(text.begin(), text.end(), out + 8);
    return Word(out);
}

// The count of pieces, then each piece as seg_layout says.
Word TreeMemory::copy(const TokSegs& segs, std::size_t skip) {
    using namespace seg_layout;
    static_assert(alignof(DollarForm) <= 4 && std::is_trivially_copyable_v<DollarForm>);
    if (segs.size() == 1) {
        if (const std::optional<Word> word = copy_plain(segs[0], skip)) return *word;
    }
    const std::size_t size = lay_out(segs, skip);
    const std::vector<PieceLayout>& pieces = scratch_->pieces;
    const bool cells = std::any_of(pieces.begin(), pieces.end(), [](const PieceLayout& piece) {
        return piece.flags & kHasCells;
    });
    char* out = static_cast<char*>(allocate(size, cells ? alignof(CommandCell) : 4));
    put_count(out, pieces.size());
    char* at = out + 4;
    for (const PieceLayout& piece : pieces) {
        put_count(at, piece.text.size() << kLengthShift | piece.flags);
        std::copy(piece.text.begin(), piece.text.end(), at + 4);
        at += 4 + padded(piece.text.size());
        if (piece.forms == 0) continue;
        put_count(at, piece.forms);
        const auto first = scratch_->forms.begin() + static_cast<std::ptrdiff_t>(piece.forms_at);
        at = reinterpret_cast<char*>(
            std::uninitialized_copy(first, first + static_cast<std::ptrdiff_t>(piece.forms),
                                    reinterpret_cast<DollarForm*>(at + 4)));
        if (!(piece.flags & kHasCells)) continue;
        at = const_cast<char*>(cells_at(at));
        at = reinterpret_cast<char*>(std::uninitialized_fill_n(
            reinterpret_cast<CommandCell*>(at), piece.forms, CommandCell{nullptr, arena_.get()}));
    }
    return Word(out);
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
