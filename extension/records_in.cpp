// Reading records into documents and options. Records are read only through
// attribute access by name, in a fixed order; every value is converted and
// checked here, so that the emitter only ever sees a well-formed tree.
#include <algorithm>
#include <limits>
#include <tuple>
#include <unordered_set>
#include <utility>

#include "python_api.hpp"

namespace brackle_py {

namespace {

using brackle_core::Document;
using brackle_core::Node;
using brackle_core::NodeIndex;
using brackle_core::Position;
using brackle_core::Trivia;

// The place of a failure, for messages: the record ("Node 3", "Doc",
// "EmitOptions", "Node 3 before[2]") and the field being read. Records are
// read on every emit, so the parts stay parts until a message needs them.
struct Where {
    static constexpr std::size_t none = static_cast<std::size_t>(-1);
    const char* record = "";   // "Node", "Doc", "EmitOptions"
    std::size_t index = none;  // a node's number
    const char* slot = "";     // a node's trivia slot ("before", "eol")
    std::size_t item = none;   // the entry of a trivia list
    const char* field = "";

    // The record's words: "Node 3 before[2]".
    std::string label() const {
        std::string out = record;
        if (index != none) out += " " + std::to_string(index);
        if (*slot) out += std::string(" ") + slot;
        if (item != none) out += "[" + std::to_string(item) + "]";
        return out;
    }
    // The same place, in a trivia slot of the node (and an entry of it).
    Where in_slot(const char* name, std::size_t entry = none) const {
        return Where{record, index, name, entry, ""};
    }
};

// Prefixes the pending exception's message with the place, keeping its type
// and holding the original as its cause. An exception type that cannot be
// made from a message alone (UnicodeEncodeError) stays as it was.
bool failed_at(const Where& where) {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value && traceback) PyException_SetTraceback(value, traceback);
    Ref text(value ? PyObject_Str(value) : nullptr);
    Ref message(
        text ? PyUnicode_FromFormat("%s: %s: %U", where.label().c_str(), where.field, text.get())
             : nullptr);
    Ref replaced(message ? PyObject_CallOneArg(type, message.get()) : nullptr);
    if (!replaced || !PyExceptionInstance_Check(replaced.get())) {
        PyErr_Clear();
        PyErr_Restore(type, value, traceback);
        return false;
    }
    PyException_SetCause(replaced.get(), value);  // steals `value`
    Py_XDECREF(traceback);
    PyErr_SetObject(type, replaced.get());
    Py_DECREF(type);
    return false;
}

bool type_error(const Where& where, PyObject* value, const char* expected) {
    PyErr_Format(PyExc_TypeError, "%s: %s must be %s, not '%.200s'", where.label().c_str(),
                 where.field, expected, Py_TYPE(value)->tp_name);
    return false;
}

Ref attr(const Where& where, PyObject* record, PyObject* name) {
    Ref v(PyObject_GetAttr(record, name));
    if (!v && PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Clear();
        PyErr_Format(PyExc_AttributeError, "%s: '%.200s' object has no attribute '%U'",
                     where.label().c_str(), Py_TYPE(record)->tp_name, name);
    }
    return v;
}

// The same, read in place when `slots` holds the attribute.
template <std::size_t N>
Ref attr(const Where& where, PyObject* record, PyObject* name, const SlotTable<N>* slots) {
    if (PyObject* set = slots ? slots->find(record, name) : nullptr) return Ref(Py_NewRef(set));
    return attr(where, record, name);
}

// Reads one field of a record into `value`, naming it in `where` for the
// messages of what follows: `get(names.kind, "kind")`. A Node record's
// fields are read in place when its class has a slot table.
struct Field {
    PyObject* record;
    Where& where;
    Ref& value;
    const SlotTable<node_field_count>* slots = nullptr;

    bool operator()(PyObject* name, const char* field) const {
        where.field = field;
        value = attr(where, record, name, slots);
        return static_cast<bool>(value);
    }
};

bool to_u64(const Where& where, PyObject* v, std::uint64_t max, std::uint64_t& out) {
    auto range = [&](PyObject* error) {
        PyErr_Format(error, "%s: %s must be an int from 0 to %llu", where.label().c_str(),
                     where.field, static_cast<unsigned long long>(max));
        return false;
    };
    if (!PyLong_Check(v)) {
        PyErr_Format(PyExc_TypeError, "%s: %s must be an int from 0 to %llu, not '%.200s'",
                     where.label().c_str(), where.field, static_cast<unsigned long long>(max),
                     Py_TYPE(v)->tp_name);
        return false;
    }
    const unsigned long long n = PyLong_AsUnsignedLongLong(v);
    if (n == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_OverflowError)) return false;
        PyErr_Clear();
        return range(PyExc_OverflowError);
    }
    if (n > max) return range(PyExc_OverflowError);
    out = n;
    return true;
}

template <class T>
bool to_uint(const Where& where, PyObject* v, T& out) {
    std::uint64_t n = 0;
    if (!to_u64(where, v, std::numeric_limits<T>::max(), n)) return false;
    out = static_cast<T>(n);
    return true;
}

bool to_bool(const Where& where, PyObject* v, bool& out) {
    if (!PyBool_Check(v)) return type_error(where, v, "a bool");
    out = v == Py_True;
    return true;
}

// The UTF-8 of a str, which lives as long as the str.
bool utf8_of(const Where& where, PyObject* v, std::string_view& out) {
    if (!PyUnicode_Check(v)) return type_error(where, v, "a str");
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(v, &size);
    if (data == nullptr) return failed_at(where);
    out = std::string_view(data, static_cast<std::size_t>(size));
    return true;
}

bool to_str(const Where& where, PyObject* v, std::string& out) {
    std::string_view text;
    if (!utf8_of(where, v, text)) return false;
    out.assign(text);
    return true;
}

// The UTF-8 of a str, or nothing for None.
bool optional_utf8(const Where& where, PyObject* v, std::optional<std::string_view>& out) {
    if (v == Py_None) {
        out.reset();
        return true;
    }
    if (!PyUnicode_Check(v)) return type_error(where, v, "None or a str");
    return utf8_of(where, v, out.emplace());
}

bool to_optional_str(const Where& where, PyObject* v, std::optional<std::string>& out) {
    std::optional<std::string_view> text;
    if (!optional_utf8(where, v, text)) return false;
    out = text ? std::optional<std::string>(*text) : std::nullopt;
    return true;
}

bool to_optional_text(const Where& where, PyObject* v, brackle_core::ScalarText& out) {
    std::optional<std::string_view> text;
    if (!optional_utf8(where, v, text)) return false;
    out = text ? brackle_core::ScalarText(*text) : brackle_core::ScalarText();
    return true;
}

// A sequence other than a str, each item converted by `item(object, index)`.
template <class Item>
bool each_in_sequence(const Where& where, PyObject* v, Item&& item) {
    if (PyUnicode_Check(v)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        return false;
    }
    if (!PySequence_Check(v)) return type_error(where, v, "a Sequence");
    const Py_ssize_t size = PySequence_Size(v);
    if (size < 0) return failed_at(where);
    for (Py_ssize_t i = 0; i < size; ++i) {
        Ref element(PySequence_GetItem(v, i));
        if (!element) return failed_at(where);
        if (!item(element.get())) return false;
    }
    return true;
}

// Anything iterable, each item converted by `item(object)`.
template <class Item>
bool each_in_iterable(const Where& where, PyObject* v, Item&& item) {
    Ref it(PyObject_GetIter(v));
    if (!it)
        return PyErr_ExceptionMatches(PyExc_TypeError) ? type_error(where, v, "iterable")
                                                       : failed_at(where);
    while (Ref element{PyIter_Next(it.get())}) {
        if (!item(element.get())) return false;
    }
    return !PyErr_Occurred() || failed_at(where);
}

// None, or a tuple of exactly `n` items.
bool optional_tuple(const Where& where, PyObject* v, Py_ssize_t n, bool& present) {
    present = v != Py_None;
    if (!present) return true;
    if (!PyTuple_Check(v) || PyTuple_GET_SIZE(v) != n) {
        const char* expected = n == 2 ? "None or a tuple of 2 items" : "None or a tuple of 3 items";
        if (PyTuple_Check(v)) {
            PyErr_Format(PyExc_ValueError, "%s: %s must be %s, not a tuple of %zd",
                         where.label().c_str(), where.field, expected, PyTuple_GET_SIZE(v));
            return false;
        }
        return type_error(where, v, expected);
    }
    return true;
}

bool to_position(const Where& where, PyObject* v, std::optional<Position>& out) {
    bool present = false;
    if (!optional_tuple(where, v, 2, present)) return false;
    out.reset();
    if (!present) return true;
    Position p;
    if (!to_uint(where, PyTuple_GET_ITEM(v, 0), p.line) ||
        !to_uint(where, PyTuple_GET_ITEM(v, 1), p.col)) {
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

bool has_line_break(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// A comment's text must read back as one comment: `#` first, no line break.
bool comment_text_ok(std::string_view text) {
    return text.empty() || (text.front() == '#' && !has_line_break(text));
}

bool has_blank_or_break(std::string_view s) {
    return s.find_first_of(" \t\r\n") != std::string_view::npos;
}

// Text written verbatim between the documents or the flow items must stay
// out of the data: only blanks, breaks and comments (`#` after a blank or
// at a line's start) in a stream's tail; only blanks, breaks, the
// indicators `,` `:` `?` and comment marks in a flow separator; only
// directive lines, `...` markers, comments and blank lines in the text
// before a document's `---`.
bool stream_tail_ok(std::string_view tail) {
    bool line_start = false;  // the tail continues the last line
    while (!tail.empty()) {
        const std::size_t brk = std::min(tail.find_first_of("\r\n"), tail.size());
        const std::string_view line = tail.substr(0, brk);
        const std::size_t text = line.find_first_not_of(" \t");
        if (text != std::string_view::npos && (line[text] != '#' || (text == 0 && !line_start))) {
            return false;
        }
        tail.remove_prefix(brk);
        if (!tail.empty()) {
            tail.remove_prefix(tail.starts_with("\r\n") ? 2 : 1);
            line_start = true;
        }
    }
    return true;
}

bool flow_separator_ok(std::string_view gap) {
    for (std::size_t i = 0; i < gap.size(); ++i) {
        const char c = gap[i];
        if (c == '#') {
            if (i + 1 < gap.size() && gap[i + 1] != '\n' && gap[i + 1] != '\r') return false;
        } else if (std::string_view(" \t\r\n,:?").find(c) == std::string_view::npos) {
            return false;
        }
    }
    return true;
}

bool directive_block_ok(std::string_view block) {
    while (!block.empty()) {
        const std::size_t brk = std::min(block.find_first_of("\r\n"), block.size());
        const std::string_view line = block.substr(0, brk);
        const std::size_t text = line.find_first_not_of(" \t");
        const bool marker =
            line.starts_with("...") && (line.size() == 3 || line[3] == ' ' || line[3] == '\t');
        if (text != std::string_view::npos && line[text] != '#' && !(text == 0 && line[0] == '%') &&
            !marker) {
            return false;
        }
        block.remove_prefix(brk);
        if (!block.empty()) block.remove_prefix(block.starts_with("\r\n") ? 2 : 1);
    }
    return true;
}

// An attribute that not every record class has: `v` is null when absent.
bool optional_attr(PyObject* record, PyObject* name, Ref& v) {
    v = Ref(PyObject_GetAttr(record, name));
    if (v || !PyErr_ExceptionMatches(PyExc_AttributeError)) return static_cast<bool>(v);
    PyErr_Clear();
    return true;
}

bool value_error(const Where& where, const char* problem) {
    PyErr_Format(PyExc_ValueError, "%s: %s %s", where.label().c_str(), where.field, problem);
    return false;
}

// The line break a text names: "\n", "\r\n" or "\r".
std::optional<brackle_core::LineBreak> line_break_named(std::string_view text) {
    if (text == "\n") return brackle_core::LineBreak::Lf;
    if (text == "\r\n") return brackle_core::LineBreak::CrLf;
    if (text == "\r") return brackle_core::LineBreak::Cr;
    return std::nullopt;
}

bool to_line_break(const Where& where, PyObject* v, brackle_core::LineBreak& out) {
    std::string text;
    if (!to_str(where, v, text)) return false;
    const std::optional<brackle_core::LineBreak> named = line_break_named(text);
    if (!named) return value_error(where, "must name a line break: '\\n', '\\r\\n' or '\\r'");
    out = *named;
    return true;
}

class Reader {
public:
    explicit Reader(const Names& n) : n_(n) {}

    // Reads the slot tables of the package's Node and Trivia classes, when
    // it has registered them; false with an exception set when that fails.
    bool ready(const State& state) {
        PyObject* node = state.registered[static_cast<std::size_t>(Lookup::Node)];
        PyObject* trivia = state.registered[static_cast<std::size_t>(Lookup::Trivia)];
        return (node == nullptr || node_slots_.read(node, node_fields(n_))) &&
               (trivia == nullptr || trivia_slots_.read(trivia, trivia_fields(n_)));
    }

    bool trivia(PyObject* record, Trivia& out, Where where) {
        std::uint32_t blank_lines = 0;
        where.field = "blank_lines";
        Ref v = attr(where, record, n_.blank_lines, &trivia_slots_);
        if (!v || !to_uint(where, v.get(), blank_lines)) return false;
        if (blank_lines != 0) {
            out = brackle_core::Blank{blank_lines};
            return true;
        }
        brackle_core::Comment c;
        std::optional<std::string> text;
        where.field = "text";
        if (!(v = attr(where, record, n_.text, &trivia_slots_)) ||
            !to_optional_str(where, v.get(), text)) {
            return false;
        }
        if (text) c.text = std::move(*text);
        if (!comment_text_ok(c.text)) {
            return value_error(where,
                               "must be a comment: it begins with # and holds no line break");
        }
        where.field = "own_line";
        if (!(v = attr(where, record, n_.own_line, &trivia_slots_)) ||
            !to_bool(where, v.get(), c.own_line)) {
            return false;
        }
        where.field = "col";
        if (!(v = attr(where, record, n_.col, &trivia_slots_)) || !to_uint(where, v.get(), c.col)) {
            return false;
        }
        out = std::move(c);
        return true;
    }

    bool trivia_list(const Where& owner, PyObject* record, PyObject* name, const char* field,
                     std::vector<Trivia>& out) {
        Where where = owner;
        where.field = field;
        Ref v = attr(where, record, name);
        return v && each_in_iterable(where, v.get(), [&](PyObject* item) {
                   const Where entry = owner.in_slot(field, out.size());
                   return trivia(item, out.emplace_back(), entry);
               });
    }

    bool node(PyObject* record, Node& out, Where where) {
        Ref v;
        std::uint8_t kind = 0;
        std::optional<std::string> anchor;
        std::vector<NodeIndex> children;
        std::vector<std::uint64_t> merge;
        std::vector<std::uint64_t> explicit_keys;
        std::vector<std::optional<Position>> colons;
        const Field get{record, where, v, &node_slots_};
        if (!get(n_.kind, "kind") || !to_uint(where, v.get(), kind)) return false;
        if (!get(n_.anchor, "anchor") || !to_optional_str(where, v.get(), anchor)) return false;
        if (!get(n_.children, "children") || !each_in_sequence(where, v.get(), [&](PyObject* item) {
                return to_uint(where, item, children.emplace_back());
            })) {
            return false;
        }
        auto numbers = [&](PyObject* name, const char* field, std::vector<std::uint64_t>& into) {
            return get(name, field) && each_in_sequence(where, v.get(), [&](PyObject* item) {
                       return to_uint(where, item, into.emplace_back());
                   });
        };
        if (!numbers(n_.merge, "merge", merge) ||
            !numbers(n_.explicit_, "explicit", explicit_keys)) {
            return false;
        }
        if (!get(n_.colon, "colon") || !each_in_sequence(where, v.get(), [&](PyObject* item) {
                return to_position(where, item, colons.emplace_back());
            })) {
            return false;
        }
        if (!kind_of(kind, std::move(anchor), std::move(children), merge, explicit_keys, colons,
                     out)) {
            return false;
        }

        if (!get(n_.tag, "tag")) return false;
        bool present = false;
        if (!optional_tuple(where, v.get(), 3, present)) return false;
        if (present) {
            brackle_core::NodeTag tag;
            if (!to_str(where, PyTuple_GET_ITEM(v.get(), 0), tag.handle) ||
                !to_str(where, PyTuple_GET_ITEM(v.get(), 1), tag.suffix) ||
                !to_str(where, PyTuple_GET_ITEM(v.get(), 2), tag.full)) {
                return false;
            }
            // The suffix and the full name are written with escapes; the
            // handle is written as it is.
            if (!tag.handle.empty() && !brackle_core::is_tag_handle(tag.handle)) {
                return value_error(where, "has a handle that is not !, !! or !word!");
            }
            out.extras.edit().tag = std::move(tag);
        }
        if (!get(n_.eol, "eol")) return false;
        Ref eol = std::move(v);
        if (!get(n_.tag_first, "tag_first") || !to_bool(where, v.get(), out.tag_first)) {
            return false;
        }
        std::uint8_t style = 0;
        if (!get(n_.style, "style") || !to_uint(where, v.get(), style)) return false;
        if (style > static_cast<std::uint8_t>(brackle_core::NodeStyle::Flow)) {
            PyErr_Format(PyExc_ValueError, "unknown Node.style %u", unsigned{style});
            return false;
        }
        out.style = static_cast<brackle_core::NodeStyle>(style);
        brackle_core::ScalarText value;
        brackle_core::ScalarText raw;
        if (!get(n_.value, "value") || !to_optional_text(where, v.get(), value)) return false;
        if (!get(n_.raw, "raw") || !to_optional_text(where, v.get(), raw)) return false;
        if (auto* scalar = std::get_if<brackle_core::kind::Scalar>(&out.kind)) {
            scalar->value = std::move(value);
            scalar->raw = std::move(raw);
        }
        if (!get(n_.line, "line") || !to_uint(where, v.get(), out.line)) return false;
        if (!get(n_.col, "col") || !to_uint(where, v.get(), out.col)) return false;
        std::optional<Position> at[3];
        PyObject* at_names[3] = {n_.anchor_at, n_.tag_at, n_.header_at};
        const char* at_fields[3] = {"anchor_at", "tag_at", "header_at"};
        for (int i = 0; i < 3; ++i) {
            if (!get(at_names[i], at_fields[i]) || !to_position(where, v.get(), at[i])) {
                return false;
            }
        }
        if (at[0] || at[1] || at[2]) {
            brackle_core::NodeExtras& extras = out.extras.edit();
            extras.anchor_at = at[0];
            extras.tag_at = at[1];
            extras.header_at = at[2];
        }
        std::vector<std::string> seps;
        if (!get(n_.flow_seps, "flow_seps") ||
            !each_in_sequence(where, v.get(), [&](PyObject* item) {
                return to_str(where, item, seps.emplace_back());
            })) {
            return false;
        }
        for (const std::string& gap : seps) {
            if (!flow_separator_ok(gap)) {
                return value_error(where, "may hold only blanks, line breaks, , : ? and # marks");
            }
        }
        if (!seps.empty()) out.extras.edit().flow_seps = std::move(seps);

        brackle_core::Trivia4 slots;
        if (!trivia_list(where, record, n_.before, "before", slots.before)) return false;
        if (eol.get() != Py_None && !trivia(eol.get(), slots.eol.emplace(), where.in_slot("eol"))) {
            return false;
        }
        if (!trivia_list(where, record, n_.inner, "inner", slots.inner)) return false;
        if (!trivia_list(where, record, n_.after, "after", slots.after)) return false;
        if (!slots.empty()) out.trivia.edit() = std::move(slots);
        return true;
    }

    bool kind_of(std::uint8_t kind, std::optional<std::string> anchor,
                 std::vector<NodeIndex> children, const std::vector<std::uint64_t>& merge,
                 const std::vector<std::uint64_t>& explicit_keys,
                 const std::vector<std::optional<Position>>& colons, Node& out) {
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
                    if (i < colons.size()) e.colon = colons[i];
                    m.entries.push_back(e);
                }
                // The lists name keys by child position; other positions are ignored.
                auto mark = [&](const std::vector<std::uint64_t>& list,
                                bool brackle_core::Entry::*flag) {
                    for (const std::uint64_t x : list) {
                        if (x % 2 == 0 && x / 2 < m.entries.size()) m.entries[x / 2].*flag = true;
                    }
                };
                mark(merge, &brackle_core::Entry::merge);
                mark(explicit_keys, &brackle_core::Entry::explicit_key);
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

    bool document(PyObject* record, Document& out, Anchors& anchors) {
        Where where{"Doc"};
        Ref v;
        const Field get{record, where, v};
        if (!get(n_.nodes, "nodes") || !each_in_iterable(where, v.get(), [&](PyObject* item) {
                if (out.nodes.size() >= std::numeric_limits<NodeIndex>::max()) {
                    PyErr_SetString(PyExc_ValueError, "a Doc cannot hold more than u32::MAX nodes");
                    return false;
                }
                return node(item, out.nodes.emplace_back(), Where{"Node", out.nodes.size()});
            })) {
            return false;
        }
        const std::size_t count = out.nodes.size();
        auto out_of_range = [&](const std::string& what, std::size_t index) {
            PyErr_Format(PyExc_ValueError, "%s is node %zu, but the Doc has %zu nodes",
                         what.c_str(), index, count);
            return false;
        };
        if (!get(n_.root, "root")) return false;
        if (v.get() != Py_None) {
            NodeIndex root = 0;
            if (!to_uint(where, v.get(), root)) return false;
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
        if (!get(n_.tag_directives, "tag_directives") ||
            !each_in_sequence(where, v.get(), [&](PyObject* item) {
                bool present = false;
                if (!optional_tuple(where, item, 2, present)) return false;
                if (!present)
                    return type_error(where, item, "a sequence of (handle, prefix) tuples");
                brackle_core::TagDirective& t = out.tag_directives.emplace_back();
                if (!to_str(where, PyTuple_GET_ITEM(item, 0), t.handle) ||
                    !to_str(where, PyTuple_GET_ITEM(item, 1), t.prefix)) {
                    return false;
                }
                if (!brackle_core::is_tag_handle(t.handle) || t.prefix.empty() ||
                    has_blank_or_break(t.prefix)) {
                    return value_error(where,
                                       "must pair a handle (!, !! or !word!) with a prefix "
                                       "that holds no blank or line break");
                }
                return true;
            })) {
            return false;
        }
        bool present = false;
        if (!get(n_.version, "version") || !optional_tuple(where, v.get(), 2, present))
            return false;
        if (present) {
            std::pair<std::uint32_t, std::uint32_t> version;
            if (!to_uint(where, PyTuple_GET_ITEM(v.get(), 0), version.first) ||
                !to_uint(where, PyTuple_GET_ITEM(v.get(), 1), version.second)) {
                return false;
            }
            out.version = version;
        }
        std::uint64_t tags_before = 0;
        if (!get(n_.tags_before_version, "tags_before_version") ||
            !to_u64(where, v.get(), std::numeric_limits<std::uint64_t>::max(), tags_before)) {
            return false;
        }
        out.tags_before_version = static_cast<std::size_t>(tags_before);
        if (!get(n_.directives_raw, "directives_raw") ||
            !optional_tuple(where, v.get(), 2, present)) {
            return false;
        }
        if (present) {
            std::pair<std::string, std::size_t> raw;
            std::uint64_t held = 0;
            if (!to_str(where, PyTuple_GET_ITEM(v.get(), 0), raw.first) ||
                !to_u64(where, PyTuple_GET_ITEM(v.get(), 1),
                        std::numeric_limits<std::uint64_t>::max(), held)) {
                return false;
            }
            if (!directive_block_ok(raw.first)) {
                return value_error(
                    where, "may hold only directive lines, ... markers, comments and blank lines");
            }
            raw.second = static_cast<std::size_t>(held);
            out.directives_raw = std::move(raw);
        }
        if (!get(n_.stream_tail, "stream_tail") || !to_str(where, v.get(), out.stream_tail)) {
            return false;
        }
        if (!stream_tail_ok(out.stream_tail)) {
            return value_error(where, "may hold only blanks, line breaks and comments");
        }
        std::tuple<PyObject*, const char*, bool*> flags[] = {
            {n_.explicit_start, "explicit_start", &out.explicit_start},
            {n_.explicit_end, "explicit_end", &out.explicit_end},
            {n_.bom, "bom", &out.bom},
            {n_.final_line_break, "final_line_break", &out.final_line_break}};
        for (auto [name, field, flag] : flags) {
            if (!get(name, field) || !to_bool(where, v.get(), *flag)) return false;
        }
        // Records of other classes may lack `line_break` and
        // `other_line_breaks`: absent, they read as unknown and none.
        where.field = "line_break";
        if (!optional_attr(record, n_.line_break, v)) return false;
        if (v && v.get() != Py_None && !to_line_break(where, v.get(), out.line_break)) return false;
        where.field = "other_line_breaks";
        if (!optional_attr(record, n_.other_line_breaks, v)) return false;
        if (v) {
            if (!PyDict_Check(v.get())) return type_error(where, v.get(), "a dict");
            PyObject* key = nullptr;
            PyObject* text = nullptr;
            Py_ssize_t pos = 0;
            while (PyDict_Next(v.get(), &pos, &key, &text)) {
                auto& [line, brk] = out.other_line_breaks.emplace_back();
                if (!to_uint(where, key, line) || !to_line_break(where, text, brk)) return false;
            }
            std::sort(out.other_line_breaks.begin(), out.other_line_breaks.end());
        }
        if (!trivia_list(where, record, n_.leading, "leading", out.leading)) return false;
        if (!trivia_list(where, record, n_.trailing, "trailing", out.trailing)) return false;
        if (!get(n_.line_space, "line_space")) return false;
        if (!PyDict_Check(v.get())) return type_error(where, v.get(), "a dict");
        PyObject* key = nullptr;
        PyObject* text = nullptr;
        Py_ssize_t pos = 0;
        while (PyDict_Next(v.get(), &pos, &key, &text)) {
            std::uint32_t line = 0;
            std::string s;
            if (!to_uint(where, key, line) || !to_str(where, text, s)) return false;
            out.line_space.insert_or_assign(line, std::move(s));
        }
        return tree_checked(out, anchors);
    }

    // The emitter writes the tree from the root, each node where it stands:
    // a node must have one parent (a node that is its own descendant, or
    // that two parents share, would be written again and again), and an
    // alias must name an anchor written before it in the stream. One walk
    // in the order of writing, with a stack, so that deep trees cannot
    // exhaust the thread's.
    static bool tree_checked(const Document& doc, Anchors& anchors) {
        if (!doc.root) return true;
        constexpr NodeIndex kNone = std::numeric_limits<NodeIndex>::max();
        enum : std::uint8_t { unseen, open, done };
        std::vector<std::uint8_t> state(doc.nodes.size(), unseen);
        std::vector<NodeIndex> parent_of(doc.nodes.size(), kNone);
        struct Step {
            NodeIndex node;
            std::size_t next;
        };
        std::vector<Step> stack;
        auto visit = [&](NodeIndex c, NodeIndex parent) {
            if (state[c] == open) {
                PyErr_Format(PyExc_ValueError, "a Doc's nodes form a cycle through node %u",
                             unsigned{c});
                return false;
            }
            if (state[c] == done) {
                PyErr_Format(PyExc_ValueError,
                             "node %u has two parents, nodes %u and %u: a node stands in one "
                             "place only (an alias repeats it)",
                             unsigned{c}, unsigned{parent_of[c]}, unsigned{parent});
                return false;
            }
            state[c] = open;
            parent_of[c] = parent;
            const Node& n = doc.nodes[c];
            if (const auto* alias = std::get_if<brackle_core::kind::Alias>(&n.kind)) {
                if (!anchors.contains(alias->name)) {
                    PyErr_Format(PyExc_ValueError,
                                 "node %u is an alias of *%s, but no anchor &%s is written before "
                                 "it",
                                 unsigned{c}, alias->name.c_str(), alias->name.c_str());
                    return false;
                }
            } else if (const auto& anchor = n.extras.get().anchor) {
                anchors.emplace(*anchor);
            }
            stack.push_back({c, 0});
            return true;
        };
        if (!visit(*doc.root, kNone)) return false;
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
            const NodeIndex parent = top.node;
            const NodeIndex c =
                seq ? seq->items[i]
                    : (i % 2 == 0 ? map->entries[i / 2].key : map->entries[i / 2].value);
            if (!visit(c, parent)) return false;
        }
        return true;
    }

    bool options(PyObject* record, brackle_core::EmitOptions& out) {
        Where where{"EmitOptions"};
        Ref v;
        const Field get{record, where, v};
        std::string line_break;
        if (!get(n_.line_break, "line_break") || !to_str(where, v.get(), line_break)) return false;
        std::uint64_t* counts[] = {&out.map_indent, &out.seq_indent, &out.seq_offset, &out.width};
        PyObject* count_names[] = {n_.map_indent, n_.seq_indent, n_.seq_offset, n_.width};
        const char* count_fields[] = {"map_indent", "seq_indent", "seq_offset", "width"};
        for (int i = 0; i < 4; ++i) {
            if (!get(count_names[i], count_fields[i]) ||
                !to_u64(where, v.get(), std::numeric_limits<std::uint64_t>::max(), *counts[i])) {
                return false;
            }
        }
        using brackle_core::LineBreak;
        const std::optional<LineBreak> named = line_break_named(line_break);
        if (!named) {
            PyErr_Format(PyExc_ValueError,
                         "EmitOptions.line_break must be one of '\\n', '\\r\\n', '\\r', not %s",
                         quoted(line_break).c_str());
            return false;
        }
        // "\n", the default, is 0: the documents' own breaks.
        out.line_break = *named == LineBreak::CrLf ? 2 : *named == LineBreak::Cr ? 3 : 0;
        std::tuple<PyObject*, const char*, std::optional<bool>*> flags[] = {
            {n_.explicit_start, "explicit_start", &out.explicit_start},
            {n_.explicit_end, "explicit_end", &out.explicit_end},
            {n_.default_flow_style, "default_flow_style", &out.default_flow_style}};
        for (auto [name, field, flag] : flags) {
            bool on = false;
            if (!get(name, field) || !to_bool(where, v.get(), on)) return false;
            // True sets the option; false leaves it to each document and node.
            if (on) {
                *flag = true;
            } else {
                flag->reset();
            }
        }
        if (!get(n_.preserve_quotes, "preserve_quotes") ||
            !to_bool(where, v.get(), out.preserve_quotes)) {
            return false;
        }
        out.allow_unicode = true;
        return true;
    }

private:
    const Names& n_;
    SlotTable<node_field_count> node_slots_;
    SlotTable<trivia_field_count> trivia_slots_;
};

}  // namespace

bool read_document(State& state, PyObject* record, Document& out, Anchors& anchors) {
    Reader reader(state.names);
    return reader.ready(state) && reader.document(record, out, anchors);
}

bool read_options(State& state, PyObject* record, brackle_core::EmitOptions& out) {
    return Reader(state.names).options(record, out);
}

}  // namespace brackle_py
