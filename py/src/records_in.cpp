// Reading records into documents and options. Records are read only through
// attribute access by name, in a fixed order; every value is converted and
// checked here, so that the emitter only ever sees a well-formed tree.
#include <cinttypes>
#include <limits>
#include <utility>

#include "py/src/python_api.hpp"

namespace brackle_py {

namespace {

using brackle_core::Document;
using brackle_core::Node;
using brackle_core::NodeIndex;
using brackle_core::Position;
using brackle_core::Trivia;

Ref attr(PyObject* record, PyObject* name) { return Ref(PyObject_GetAttr(record, name)); }

bool type_error(PyObject* value, const char* expected) {
    PyErr_Format(PyExc_TypeError, "'%.200s' object cannot be converted to '%s'",
                 Py_TYPE(value)->tp_name, expected);
    return false;
}

bool to_u64(PyObject* v, std::uint64_t max, std::uint64_t& out) {
    if (!PyLong_Check(v)) return type_error(v, "PyInt");
    const unsigned long long n = PyLong_AsUnsignedLongLong(v);
    if (n == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    if (n > max) {
        PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
        return false;
    }
    out = n;
    return true;
}

template <class T>
bool to_uint(PyObject* v, T& out) {
    std::uint64_t n = 0;
    if (!to_u64(v, std::numeric_limits<T>::max(), n)) return false;
    out = static_cast<T>(n);
    return true;
}

bool to_bool(PyObject* v, bool& out) {
    if (!PyBool_Check(v)) return type_error(v, "PyBool");
    out = v == Py_True;
    return true;
}

bool to_str(PyObject* v, std::string& out) {
    if (!PyUnicode_Check(v)) return type_error(v, "PyString");
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(v, &size);
    if (data == nullptr) return false;
    out.assign(data, static_cast<std::size_t>(size));
    return true;
}

bool to_optional_str(PyObject* v, std::optional<std::string>& out) {
    if (v == Py_None) {
        out.reset();
        return true;
    }
    return to_str(v, out.emplace());
}

// A sequence other than a str, each item converted by `item(object, index)`.
template <class Item>
bool each_in_sequence(PyObject* v, Item&& item) {
    if (PyUnicode_Check(v)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        return false;
    }
    if (!PySequence_Check(v)) return type_error(v, "Sequence");
    const Py_ssize_t size = PySequence_Size(v);
    if (size < 0) return false;
    for (Py_ssize_t i = 0; i < size; ++i) {
        Ref element(PySequence_GetItem(v, i));
        if (!element || !item(element.get())) return false;
    }
    return true;
}

// Anything iterable, each item converted by `item(object)`.
template <class Item>
bool each_in_iterable(PyObject* v, Item&& item) {
    Ref it(PyObject_GetIter(v));
    if (!it) return false;
    while (Ref element{PyIter_Next(it.get())}) {
        if (!item(element.get())) return false;
    }
    return !PyErr_Occurred();
}

// None, or a tuple of exactly `n` items.
bool optional_tuple(PyObject* v, Py_ssize_t n, bool& present) {
    present = v != Py_None;
    if (!present) return true;
    if (!PyTuple_Check(v)) return type_error(v, "PyTuple");
    if (PyTuple_GET_SIZE(v) != n) {
        PyErr_Format(PyExc_ValueError, "expected tuple of length %zd, but got tuple of length %zd",
                     n, PyTuple_GET_SIZE(v));
        return false;
    }
    return true;
}

bool to_position(PyObject* v, std::optional<Position>& out) {
    bool present = false;
    if (!optional_tuple(v, 2, present)) return false;
    out.reset();
    if (!present) return true;
    Position p;
    if (!to_uint(PyTuple_GET_ITEM(v, 0), p.line) || !to_uint(PyTuple_GET_ITEM(v, 1), p.col)) {
        return false;
    }
    out = p;
    return true;
}

// The reader ends an anchor or alias name at a blank, a line break, NUL,
// U+FEFF or a flow indicator, so a name holding one cannot be written.
bool anchor_name_ok(std::string_view name) {
    return name.find_first_of(std::string_view(" \t\r\n,[]{}\0", 10)) == std::string_view::npos &&
           name.find("\xEF\xBB\xBF") == std::string_view::npos;
}

constexpr const char* kAnchorEmpty = "a Node's `anchor` cannot be empty";
constexpr const char* kAnchorChars =
    "an anchor or alias name cannot hold a space, tab, line break, NUL, U+FEFF or any of , [ ] { }";

class Reader {
public:
    explicit Reader(const Names& n) : n_(n) {}

    bool trivia(PyObject* record, Trivia& out) {
        std::uint32_t blank_lines = 0;
        Ref v = attr(record, n_.blank_lines);
        if (!v || !to_uint(v.get(), blank_lines)) return false;
        if (blank_lines != 0) {
            out = brackle_core::Blank{blank_lines};
            return true;
        }
        brackle_core::Comment c;
        std::optional<std::string> text;
        if (!(v = attr(record, n_.text)) || !to_optional_str(v.get(), text)) return false;
        if (text) c.text = std::move(*text);
        if (!(v = attr(record, n_.own_line)) || !to_bool(v.get(), c.own_line)) return false;
        if (!(v = attr(record, n_.col)) || !to_uint(v.get(), c.col)) return false;
        out = std::move(c);
        return true;
    }

    bool trivia_list(PyObject* record, PyObject* name, std::vector<Trivia>& out) {
        Ref v = attr(record, name);
        return v && each_in_iterable(v.get(), [&](PyObject* item) {
                   return trivia(item, out.emplace_back());
               });
    }

    bool node(PyObject* record, Node& out) {
        Ref v;
        std::uint8_t kind = 0;
        std::optional<std::string> anchor;
        std::vector<NodeIndex> children;
        std::vector<std::uint64_t> merge;
        std::vector<std::uint64_t> explicit_keys;
        std::vector<std::optional<Position>> colons;
        if (!(v = attr(record, n_.kind)) || !to_uint(v.get(), kind)) return false;
        if (!(v = attr(record, n_.anchor)) || !to_optional_str(v.get(), anchor)) return false;
        if (!(v = attr(record, n_.children)) ||
            !each_in_sequence(v.get(), [&](PyObject* item) {
                return to_uint(item, children.emplace_back());
            })) {
            return false;
        }
        auto numbers = [&](PyObject* name, std::vector<std::uint64_t>& into) {
            Ref list = attr(record, name);
            return list && each_in_sequence(list.get(), [&](PyObject* item) {
                       return to_uint(item, into.emplace_back());
                   });
        };
        if (!numbers(n_.merge, merge) || !numbers(n_.explicit_, explicit_keys)) return false;
        if (!(v = attr(record, n_.colon)) ||
            !each_in_sequence(v.get(), [&](PyObject* item) {
                return to_position(item, colons.emplace_back());
            })) {
            return false;
        }
        if (!kind_of(kind, std::move(anchor), std::move(children), merge, explicit_keys, colons,
                     out)) {
            return false;
        }

        if (!(v = attr(record, n_.tag))) return false;
        bool present = false;
        if (!optional_tuple(v.get(), 3, present)) return false;
        if (present) {
            brackle_core::NodeTag tag;
            if (!to_str(PyTuple_GET_ITEM(v.get(), 0), tag.handle) ||
                !to_str(PyTuple_GET_ITEM(v.get(), 1), tag.suffix) ||
                !to_str(PyTuple_GET_ITEM(v.get(), 2), tag.full)) {
                return false;
            }
            out.extras.edit().tag = std::move(tag);
        }
        Ref eol = attr(record, n_.eol);
        if (!eol) return false;
        if (!(v = attr(record, n_.tag_first)) || !to_bool(v.get(), out.tag_first)) return false;
        std::uint8_t style = 0;
        if (!(v = attr(record, n_.style)) || !to_uint(v.get(), style)) return false;
        if (style > static_cast<std::uint8_t>(brackle_core::NodeStyle::Flow)) {
            PyErr_Format(PyExc_ValueError, "unknown Node.style %u", unsigned{style});
            return false;
        }
        out.style = static_cast<brackle_core::NodeStyle>(style);
        std::optional<std::string> value;
        std::optional<std::string> raw;
        if (!(v = attr(record, n_.value)) || !to_optional_str(v.get(), value)) return false;
        if (!(v = attr(record, n_.raw)) || !to_optional_str(v.get(), raw)) return false;
        if (auto* scalar = std::get_if<brackle_core::kind::Scalar>(&out.kind)) {
            scalar->value = std::move(value);
            scalar->raw = std::move(raw);
        }
        if (!(v = attr(record, n_.line)) || !to_uint(v.get(), out.line)) return false;
        if (!(v = attr(record, n_.col)) || !to_uint(v.get(), out.col)) return false;
        std::optional<Position> at[3];
        PyObject* at_names[3] = {n_.anchor_at, n_.tag_at, n_.header_at};
        for (int i = 0; i < 3; ++i) {
            if (!(v = attr(record, at_names[i])) || !to_position(v.get(), at[i])) return false;
        }
        if (at[0] || at[1] || at[2]) {
            brackle_core::NodeExtras& extras = out.extras.edit();
            extras.anchor_at = at[0];
            extras.tag_at = at[1];
            extras.header_at = at[2];
        }
        std::vector<std::string> seps;
        if (!(v = attr(record, n_.flow_seps)) ||
            !each_in_sequence(v.get(), [&](PyObject* item) {
                return to_str(item, seps.emplace_back());
            })) {
            return false;
        }
        if (!seps.empty()) out.extras.edit().flow_seps = std::move(seps);

        brackle_core::Trivia4 slots;
        if (!trivia_list(record, n_.before, slots.before)) return false;
        if (eol.get() != Py_None && !trivia(eol.get(), slots.eol.emplace())) return false;
        if (!trivia_list(record, n_.inner, slots.inner)) return false;
        if (!trivia_list(record, n_.after, slots.after)) return false;
        if (!slots.empty()) out.trivia.edit() = std::move(slots);
        return true;
    }

    bool kind_of(std::uint8_t kind, std::optional<std::string> anchor,
                 std::vector<NodeIndex> children, const std::vector<std::uint64_t>& merge,
                 const std::vector<std::uint64_t>& explicit_keys,
                 const std::vector<std::optional<Position>>& colons, Node& out) {
        auto mentions = [](const std::vector<std::uint64_t>& list, std::uint64_t n) {
            for (const std::uint64_t x : list) {
                if (x == n) return true;
            }
            return false;
        };
        switch (kind) {
            case 0: out.kind = brackle_core::kind::Scalar{}; break;
            case 1: out.kind = brackle_core::kind::Sequence{std::move(children)}; break;
            case 2: {
                if (children.size() % 2 != 0) {
                    PyErr_SetString(PyExc_ValueError,
                                    "a mapping Node needs an even number of children (k, v, k, "
                                    "v, ...)");
                    return false;
                }
                brackle_core::kind::Mapping m;
                m.entries.reserve(children.size() / 2);
                for (std::size_t i = 0; i < children.size() / 2; ++i) {
                    brackle_core::Entry e;
                    e.key = children[2 * i];
                    e.value = children[2 * i + 1];
                    e.merge = mentions(merge, 2 * i);
                    e.explicit_key = mentions(explicit_keys, 2 * i);
                    if (i < colons.size()) e.colon = colons[i];
                    m.entries.push_back(e);
                }
                out.kind = std::move(m);
                break;
            }
            case 3:
                if (!anchor || anchor->empty()) {
                    PyErr_SetString(PyExc_ValueError,
                                    "an alias Node needs the referenced name in `anchor`");
                    return false;
                }
                if (!anchor_name_ok(*anchor)) {
                    PyErr_SetString(PyExc_ValueError, kAnchorChars);
                    return false;
                }
                out.kind = brackle_core::kind::Alias{std::move(*anchor)};
                return true;  // an alias declares no anchor of its own
            default:
                PyErr_Format(PyExc_ValueError, "unknown Node.kind %u", unsigned{kind});
                return false;
        }
        if (anchor) {
            if (anchor->empty() || !anchor_name_ok(*anchor)) {
                PyErr_SetString(PyExc_ValueError, anchor->empty() ? kAnchorEmpty : kAnchorChars);
                return false;
            }
            out.extras.edit().anchor = std::move(anchor);
        }
        return true;
    }

    bool document(PyObject* record, Document& out) {
        Ref v;
        if (!(v = attr(record, n_.nodes)) ||
            !each_in_iterable(v.get(), [&](PyObject* item) {
                if (out.nodes.size() >= std::numeric_limits<NodeIndex>::max()) {
                    PyErr_SetString(PyExc_ValueError, "a Doc cannot hold more than u32::MAX nodes");
                    return false;
                }
                return node(item, out.nodes.emplace_back());
            })) {
            return false;
        }
        const std::size_t count = out.nodes.size();
        auto out_of_range = [&](const std::string& what, std::size_t index) {
            PyErr_Format(PyExc_ValueError, "%s is node %zu, but the Doc has %zu nodes", what.c_str(),
                         index, count);
            return false;
        };
        if (!(v = attr(record, n_.root))) return false;
        if (v.get() != Py_None) {
            NodeIndex root = 0;
            if (!to_uint(v.get(), root)) return false;
            if (root >= count) return out_of_range("Doc.root", root);
            out.root = root;
        }
        for (std::size_t i = 0; i < count; ++i) {
            const Node& n = out.nodes[i];
            auto check = [&](NodeIndex c) {
                return c < count || out_of_range("a child of node " + std::to_string(i), c);
            };
            if (const auto* seq = std::get_if<brackle_core::kind::Sequence>(&n.kind)) {
                for (const NodeIndex c : seq->items) {
                    if (!check(c)) return false;
                }
            } else if (const auto* map = std::get_if<brackle_core::kind::Mapping>(&n.kind)) {
                for (const auto& e : map->entries) {
                    if (!check(e.key) || !check(e.value)) return false;
                }
            }
        }
        if (!(v = attr(record, n_.tag_directives)) ||
            !each_in_sequence(v.get(), [&](PyObject* item) {
                bool present = false;
                if (!optional_tuple(item, 2, present)) return false;
                if (!present) return type_error(item, "PyTuple");
                brackle_core::TagDirective& t = out.tag_directives.emplace_back();
                return to_str(PyTuple_GET_ITEM(item, 0), t.handle) &&
                       to_str(PyTuple_GET_ITEM(item, 1), t.prefix);
            })) {
            return false;
        }
        bool present = false;
        if (!(v = attr(record, n_.version)) || !optional_tuple(v.get(), 2, present)) return false;
        if (present) {
            std::pair<std::uint32_t, std::uint32_t> version;
            if (!to_uint(PyTuple_GET_ITEM(v.get(), 0), version.first) ||
                !to_uint(PyTuple_GET_ITEM(v.get(), 1), version.second)) {
                return false;
            }
            out.version = version;
        }
        std::uint64_t tags_before = 0;
        if (!(v = attr(record, n_.tags_before_version)) ||
            !to_u64(v.get(), std::numeric_limits<std::uint64_t>::max(), tags_before)) {
            return false;
        }
        out.tags_before_version = static_cast<std::size_t>(tags_before);
        if (!(v = attr(record, n_.directives_raw)) || !optional_tuple(v.get(), 2, present)) {
            return false;
        }
        if (present) {
            std::pair<std::string, std::size_t> raw;
            std::uint64_t held = 0;
            if (!to_str(PyTuple_GET_ITEM(v.get(), 0), raw.first) ||
                !to_u64(PyTuple_GET_ITEM(v.get(), 1), std::numeric_limits<std::uint64_t>::max(),
                        held)) {
                return false;
            }
            raw.second = static_cast<std::size_t>(held);
            out.directives_raw = std::move(raw);
        }
        if (!(v = attr(record, n_.stream_tail)) || !to_str(v.get(), out.stream_tail)) return false;
        std::pair<PyObject*, bool*> flags[] = {{n_.explicit_start, &out.explicit_start},
                                               {n_.explicit_end, &out.explicit_end},
                                               {n_.bom, &out.bom},
                                               {n_.final_line_break, &out.final_line_break}};
        for (auto [name, flag] : flags) {
            if (!(v = attr(record, name)) || !to_bool(v.get(), *flag)) return false;
        }
        // Records of other classes may not have `lone_cr`: absent reads as false.
        if (!(v = attr(record, n_.lone_cr))) {
            if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
            PyErr_Clear();
        } else if (!to_bool(v.get(), out.lone_cr)) {
            return false;
        }
        if (!trivia_list(record, n_.leading, out.leading)) return false;
        if (!trivia_list(record, n_.trailing, out.trailing)) return false;
        if (!(v = attr(record, n_.line_space))) return false;
        if (!PyDict_Check(v.get())) return type_error(v.get(), "PyDict");
        PyObject* key = nullptr;
        PyObject* text = nullptr;
        Py_ssize_t pos = 0;
        while (PyDict_Next(v.get(), &pos, &key, &text)) {
            std::uint32_t line = 0;
            std::string s;
            if (!to_uint(key, line) || !to_str(text, s)) return false;
            out.line_space.insert_or_assign(line, std::move(s));
        }
        return acyclic(out);
    }

    // The emitter walks the tree from the root: a node that is its own
    // descendant is refused here. A node shared by two parents is written
    // twice, which is fine. Iterative, so that deep trees cannot exhaust
    // the stack.
    static bool acyclic(const Document& doc) {
        if (!doc.root) return true;
        enum : std::uint8_t { unseen, open, done };
        std::vector<std::uint8_t> state(doc.nodes.size(), unseen);
        struct Step {
            NodeIndex node;
            std::size_t next;
        };
        std::vector<Step> stack{{*doc.root, 0}};
        state[*doc.root] = open;
        while (!stack.empty()) {
            Step& top = stack.back();
            const Node& n = doc.nodes[top.node];
            const auto* seq = std::get_if<brackle_core::kind::Sequence>(&n.kind);
            const auto* map = std::get_if<brackle_core::kind::Mapping>(&n.kind);
            const std::size_t count = seq ? seq->items.size() : map ? map->entries.size() * 2 : 0;
            if (top.next == count) {
                state[top.node] = done;
                stack.pop_back();
                continue;
            }
            const std::size_t i = top.next++;
            const NodeIndex c = seq ? seq->items[i]
                                    : (i % 2 == 0 ? map->entries[i / 2].key : map->entries[i / 2].value);
            if (state[c] == open) {
                PyErr_Format(PyExc_ValueError, "a Doc's nodes form a cycle through node %u",
                             unsigned{c});
                return false;
            }
            if (state[c] == unseen) {
                state[c] = open;
                stack.push_back({c, 0});
            }
        }
        return true;
    }

private:
    const Names& n_;
};

// A str written as a double-quoted literal, escapes spelled out.
std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (const char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\0': out += "\\0"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\u{%x}", static_cast<unsigned>(c));
                    out += hex;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

}  // namespace

bool read_document(PyObject* record, Document& out) {
    const Names* n = names();
    return n && Reader(*n).document(record, out);
}

bool read_options(PyObject* record, brackle_core::EmitOptions& out) {
    const Names* n = names();
    if (!n) return false;
    Ref v;
    std::string line_break;
    if (!(v = attr(record, n->line_break)) || !to_str(v.get(), line_break)) return false;
    std::uint64_t* counts[] = {&out.map_indent, &out.seq_indent, &out.seq_offset, &out.width};
    PyObject* count_names[] = {n->map_indent, n->seq_indent, n->seq_offset, n->width};
    for (int i = 0; i < 4; ++i) {
        if (!(v = attr(record, count_names[i])) ||
            !to_u64(v.get(), std::numeric_limits<std::uint64_t>::max(), *counts[i])) {
            return false;
        }
    }
    if (line_break == "\n") {
        out.line_break = 0;
    } else if (line_break == "\r\n") {
        out.line_break = 2;
    } else if (line_break == "\r") {
        out.line_break = 3;
    } else {
        PyErr_Format(PyExc_ValueError,
                     "EmitOptions.line_break must be one of '\\n', '\\r\\n', '\\r', not %s",
                     quoted(line_break).c_str());
        return false;
    }
    std::pair<PyObject*, std::optional<bool>*> flags[] = {
        {n->explicit_start, &out.explicit_start},
        {n->explicit_end, &out.explicit_end},
        {n->default_flow_style, &out.default_flow_style}};
    for (auto [name, flag] : flags) {
        bool on = false;
        if (!(v = attr(record, name)) || !to_bool(v.get(), on)) return false;
        // True sets the option; false leaves it to each document and node.
        if (on) {
            *flag = true;
        } else {
            flag->reset();
        }
    }
    if (!(v = attr(record, n->preserve_quotes)) || !to_bool(v.get(), out.preserve_quotes)) {
        return false;
    }
    out.allow_unicode = true;
    return true;
}

}  // namespace brackle_py
