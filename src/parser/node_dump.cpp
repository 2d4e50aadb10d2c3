// A compact one-line form of a syntax tree, used by tests to compare whole trees at a glance.
// Words show their segments joined by `+`: unquoted text as is, Single text in '...', Double
// text in "...".
#include <type_traits>
#include <utility>

#include "parser/node.hpp"

namespace kiln {
namespace {

std::string dump_word(const Word& word) {
    std::string out;
    bool first = true;
    for (const Seg& seg : word) {
        if (!std::exchange(first, false)) out += '+';
        switch (seg.quote) {
            case Quote::None:
                out += seg.text;
                break;
            case Quote::Single:
                out.append("'").append(seg.text).append("'");
                break;
            case Quote::Double:
                out.append("\"").append(seg.text).append("\"");
                break;
        }
    }
    return out;
}

template <class Words>
std::string dump_words(const Words& words) {
    std::string out = "[";
    for (const Word& word : words) {
        out += (out.size() > 1 ? "," : "") + dump_word(word);
    }
    return out + "]";
}

std::string dump_redirect(const Redirect& r) {
    std::string out = r.fd ? std::to_string(*r.fd) : "";
    out += r.op == RedirOp::In ? "<" : r.op == RedirOp::Out ? ">" : ">>";
    return out + dump_word(r.target);
}

std::string dump_simple(const Simple& s) {
    std::string out = "Simple{";
    std::string sep;
    if (!s.assigns.empty()) {
        std::string list;
        for (const Assignment& a : s.assigns) {
            list += (list.empty() ? "" : ",") + std::string(a.name) + "=" + dump_word(a.value);
        }
        out += "assigns=[" + list + "]";
        sep = " ";
    }
    if (!s.words.empty()) {
        out += sep + "words=" + dump_words(s.words);
        sep = " ";
    }
    if (!s.redirects.empty()) {
        std::string list;
        for (const Redirect& r : s.redirects) {
            list += (list.empty() ? "" : ",") + dump_redirect(r);
        }
        out += sep + "redirects=[" + list + "]";
    }
    return out + "}";
}

std::string dump_nodes(const NodeList& nodes) {
    std::string out = "[";
    for (const Node node : nodes) {
        out += (out.size() > 1 ? ", " : "") + dump_node(node);
    }
    return out + "]";
}

std::string dump_if(const If& n) {
    std::string out = "If(";
    bool first = true;
    for (const IfClause& c : n.clauses) {
        out += (first ? "" : ", Elif(") + dump_node(c.cond) + ", " + dump_node(c.body) +
               (first ? "" : ")");
        first = false;
    }
    if (n.else_body) out += ", Else(" + dump_node(n.else_body) + ")";
    return out + ")";
}

std::string dump_case(const Case& n) {
    std::string out = "Case(" + dump_word(n.word);
    for (const CaseArm& arm : n.arms) {
        out += ", " + dump_words(arm.patterns) + " => " + dump_node(arm.body);
    }
    return out + ")";
}

}  // namespace

std::string dump_node(const Node& node) {
    return visit(node, [](const auto& n) -> std::string {
        using T = std::decay_t<decltype(n)>;
        if constexpr (std::is_same_v<T, Empty>) {
            return "Empty";
        } else if constexpr (std::is_same_v<T, Simple>) {
            return dump_simple(n);
        } else if constexpr (std::is_same_v<T, Pipeline>) {
            return "Pipeline" + dump_nodes(n.stages);
        } else if constexpr (std::is_same_v<T, AndOr>) {
            return (n.is_or ? "Or(" : "And(") + dump_node(n.left) + ", " + dump_node(n.right) + ")";
        } else if constexpr (std::is_same_v<T, Sequence>) {
            return "Seq" + dump_nodes(n.items);
        } else if constexpr (std::is_same_v<T, Subshell>) {
            return "Subshell(" + dump_node(n.body) + ")";
        } else if constexpr (std::is_same_v<T, Group>) {
            return "Group(" + dump_node(n.body) + ")";
        } else if constexpr (std::is_same_v<T, If>) {
            return dump_if(n);
        } else if constexpr (std::is_same_v<T, For>) {
            return "For(" + std::string(n.var) + ", " + dump_words(n.words) + ", " +
                   dump_node(n.body) + ")";
        } else if constexpr (std::is_same_v<T, Loop>) {
            return (n.until ? "Until(" : "While(") + dump_node(n.cond) + ", " + dump_node(n.body) +
                   ")";
        } else if constexpr (std::is_same_v<T, Case>) {
            return dump_case(n);
        } else {
            static_assert(std::is_same_v<T, FunctionDef>);
            return "Function(" + std::string(n.name) + ", " + dump_node(n.body) + ")";
        }
    });
}

}  // namespace kiln
