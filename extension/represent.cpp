// Python data to documents: the data path of `dump`. Every object becomes a
// node with neither position nor raw text, so the emitter lays the document
// out from the options and picks each string's style by its read-back check.
// Containers are walked with an explicit stack in the order the emitter
// writes them; a container met again becomes an alias of its first node,
// which then takes an anchor, so shared data stays shared and a cycle ends
// at an alias.
// datetime.h needs Python.h, which python_api.hpp includes.
// clang-format off
#include "python_api.hpp"
#include "brackle/event.hpp"
#include <datetime.h>
// clang-format on

#include <charconv>
#include <limits>
#include <unordered_map>
#include <utility>

namespace brackle_py {

namespace {

using brackle_core::Document;
using brackle_core::Node;
using brackle_core::NodeIndex;
using brackle_core::NodeKind;
using brackle_core::NodeStyle;
using brackle_core::NodeTag;
namespace kind = brackle_core::kind;

constexpr std::string_view kCorePrefix = brackle_scanner::standard_tag_prefix;
constexpr NodeIndex kNoParent = std::numeric_limits<NodeIndex>::max();

NodeTag core_tag(std::string_view suffix) {
    std::string full(kCorePrefix);
    full += suffix;
    return NodeTag{"!!", std::string(suffix), std::move(full)};
}

// A tag given by its full name, in a form that reads back as that name:
// `!!` for the core prefix, `!` for a local tag, verbatim otherwise.
NodeTag tag_named(std::string_view full) {
    if (full.starts_with(kCorePrefix) && full.size() > kCorePrefix.size()) {
        return core_tag(full.substr(kCorePrefix.size()));
    }
    if (full.size() > 1 && full[0] == '!' && full[1] != '!') {
        return NodeTag{"!", std::string(full.substr(1)), std::string(full)};
    }
    return NodeTag{"", std::string(full), std::string(full)};
}

// Base64 in lines of 76 characters, each ended by a line break.
std::string base64_lines(std::string_view bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4 * 77 / 76 + 2);
    std::size_t column = 0;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            group = group << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        }
        for (std::size_t k = 0; k < 4; ++k) {
            out += k <= n ? kDigits[(group >> (18 - 6 * k)) & 0x3F] : '=';
        }
        column += 4;
        if (column == 76) {
            out += '\n';
            column = 0;
        }
    }
    if (column != 0) out += '\n';
    return out;
}

bool utf8_of(PyObject* str, std::string& out) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(str, &size);
    if (data == nullptr) return false;
    out.assign(data, static_cast<std::size_t>(size));
    return true;
}

// A float as Python's repr writes it, with the YAML names of infinity and
// NaN. An exponent form gets a `.0` so that readers that require a point
// in a float take it as one too.
bool float_text(double d, std::string& out) {
    if (d != d) {
        out = ".nan";
        return true;
    }
    if (d == std::numeric_limits<double>::infinity()) {
        out = ".inf";
        return true;
    }
    if (d == -std::numeric_limits<double>::infinity()) {
        out = "-.inf";
        return true;
    }
    char* text = PyOS_double_to_string(d, 'r', 0, Py_DTSF_ADD_DOT_0, nullptr);
    if (text == nullptr) return false;
    out = text;
    PyMem_Free(text);
    const std::size_t e = out.find('e');
    if (e != std::string::npos && out.find('.') == std::string::npos) out.insert(e, ".0");
    return true;
}

bool int_text(PyObject* v, std::string& out) {
    int overflow = 0;
    const long long n = PyLong_AsLongLongAndOverflow(v, &overflow);
    if (overflow == 0) {
        if (n == -1 && PyErr_Occurred()) return false;
        char buf[24];
        const auto end = std::to_chars(buf, buf + sizeof buf, n).ptr;
        out.assign(buf, end);
        return true;
    }
    // int's own repr: a subclass's (an IntEnum's) would not be a number.
    Ref text(PyLong_Type.tp_repr(v));
    return text && utf8_of(text.get(), out);
}

// A datetime whose UTC offset has seconds in it has no timestamp form (a
// timestamp's zone is hours and minutes): `utc` is set to the same instant
// in UTC, which loads back equal. Others leave `utc` empty.
bool whole_minute_offset(PyObject* o, Ref& utc) {
    if (!PyDateTime_Check(o)) return true;
    Ref offset(PyObject_CallMethod(o, "utcoffset", nullptr));
    if (!offset) return false;
    if (offset.get() == Py_None || !PyDelta_Check(offset.get())) return true;
    const int seconds = PyDateTime_DELTA_GET_SECONDS(offset.get());
    if (seconds % 60 == 0 && PyDateTime_DELTA_GET_MICROSECONDS(offset.get()) == 0) return true;
    utc = Ref(PyObject_CallMethod(o, "astimezone", "O", PyDateTime_TimeZone_UTC));
    return static_cast<bool>(utc);
}

// A child still to be made into a node, and where its index goes.
struct Pending {
    Ref object;
    NodeIndex parent;
    std::uint32_t slot;  // item index; for a mapping, 2 × entry + (0 key, 1 value)
};

// The package's classes a builder tells objects apart by.
struct Classes {
    PyObject* tagged = nullptr;
    PyObject* flow = nullptr;
    PyObject* doc = nullptr;                 // records of parsed documents
    PyObject* unknown_type_error = nullptr;  // raised for an object of no known type
};

class Builder {
public:
    Builder(State& state, Document& doc, const Classes& classes, const RepresentOptions& options)
        : state_(state),
          doc_(doc),
          tagged_type_(classes.tagged),
          flow_type_(classes.flow),
          doc_type_(classes.doc),
          abc_{state.mapping_abc, state.sequence_abc},
          represent_(options.functions),
          sort_keys_(options.sort_keys),
          unknown_type_error_(classes.unknown_type_error) {}

    bool build(PyObject* data) {
        doc_.final_line_break = true;
        stack_.push_back({Ref(Py_NewRef(data)), kNoParent, 0});
        while (!stack_.empty()) {
            Pending p = std::move(stack_.back());
            stack_.pop_back();
            if (!place(p.object.get(), p.parent, p.slot, std::nullopt)) return false;
        }
        return true;
    }

private:
    NodeIndex add(Node node) {
        if (doc_.nodes.size() >= kNoParent) throw std::length_error("more than 2^32 - 1 nodes");
        doc_.nodes.push_back(std::move(node));
        return static_cast<NodeIndex>(doc_.nodes.size() - 1);
    }

    void link(NodeIndex parent, std::uint32_t slot, NodeIndex child) {
        if (parent == kNoParent) {
            doc_.root = child;
            return;
        }
        NodeKind& k = doc_.nodes[parent].kind;
        if (auto* seq = std::get_if<kind::Sequence>(&k)) {
            seq->items[slot] = child;
        } else {
            auto& entry = std::get<kind::Mapping>(k).entries[slot / 2];
            (slot % 2 == 0 ? entry.key : entry.value) = child;
        }
    }

    NodeIndex scalar(std::string value, NodeStyle style, std::optional<NodeTag> tag) {
        Node n;
        n.kind = kind::Scalar{std::move(value), std::nullopt};
        n.style = style;
        if (tag) n.extras.edit().tag = std::move(tag);
        return add(std::move(n));
    }

    // A collection node of `count` children, each pushed to be placed in
    // order: the first ends on top of the stack.
    NodeIndex collection(bool mapping, std::size_t count, std::optional<NodeTag> tag) {
        Node n;
        if (mapping) {
            n.kind = kind::Mapping{std::vector<brackle_core::Entry>(count / 2)};
        } else {
            n.kind = kind::Sequence{std::vector<NodeIndex>(count)};
        }
        n.style = NodeStyle::Block;
        if (tag) n.extras.edit().tag = std::move(tag);
        return add(std::move(n));
    }

    void push_children(NodeIndex node, std::vector<Ref>& children) {
        for (std::size_t i = children.size(); i-- > 0;) {
            stack_.push_back({std::move(children[i]), node, static_cast<std::uint32_t>(i)});
        }
    }

    // Whether `object` was met before; if so its alias is placed.
    bool seen_before(PyObject* object, NodeIndex parent, std::uint32_t slot) {
        const auto [it, fresh] =
            seen_.try_emplace(object, static_cast<NodeIndex>(doc_.nodes.size()));
        if (fresh) {
            keep_.emplace_back(Py_NewRef(object));
            return false;
        }
        auto& anchor = doc_.nodes[it->second].extras.edit().anchor;
        if (!anchor) {
            char name[24];
            std::snprintf(name, sizeof name, "id%03zu", ++anchors_);
            anchor = name;
        }
        Node alias;
        alias.kind = kind::Alias{*anchor};
        alias.style = NodeStyle::Block;
        link(parent, slot, add(std::move(alias)));
        return true;
    }

    // The caller's function for objects of `type` or, with `inherited`, of
    // a class it derives from; null when there is none (also with an
    // exception set when the lookup failed).
    PyObject* represent_function(PyTypeObject* type, bool inherited) {
        if (represent_ == nullptr) return nullptr;
        if (!inherited)
            return PyDict_GetItemWithError(represent_, reinterpret_cast<PyObject*>(type));
        PyObject* mro = type->tp_mro;
        const Py_ssize_t n = mro && PyTuple_Check(mro) ? PyTuple_GET_SIZE(mro) : 0;
        for (Py_ssize_t i = 1; i < n; ++i) {
            PyObject* found = PyDict_GetItemWithError(represent_, PyTuple_GET_ITEM(mro, i));
            if (found != nullptr || PyErr_Occurred()) return found;
        }
        return nullptr;
    }

    // Places what the caller's `function` makes of `o`. One object gives one
    // result however often it occurs, so that shared objects stay shared.
    bool place_represented(PyObject* function, PyObject* o, NodeIndex parent, std::uint32_t slot,
                           std::optional<NodeTag> tag) {
        auto found = represented_.find(o);
        if (found == represented_.end()) {
            // A function whose results need the caller's functions again
            // and again would never end.
            if (++represent_chain_ > 100) {
                PyErr_Format(unknown_type_error_,
                             "the represent function for '%.200s' gave objects that needed "
                             "representing 100 times in a row",
                             Py_TYPE(o)->tp_name);
                return false;
            }
            Ref made(PyObject_CallOneArg(function, o));
            if (!made) return false;
            keep_.emplace_back(Py_NewRef(o));
            found = represented_.emplace(o, std::move(made)).first;
        }
        const bool placed = place(found->second.get(), parent, slot, std::move(tag));
        represent_chain_ = 0;
        return placed;
    }

    bool place(PyObject* o, NodeIndex parent, std::uint32_t slot, std::optional<NodeTag> tag) {
        if (PyObject* function = represent_function(Py_TYPE(o), false)) {
            return place_represented(function, o, parent, slot, std::move(tag));
        }
        if (PyErr_Occurred()) return false;
        std::string text;
        NodeStyle style = NodeStyle::Plain;
        // Scalars: a string's style is left to the emitter (Block means no
        // preference), every other scalar is written plain.
        if (PyUnicode_Check(o)) {
            if (!utf8_of(o, text)) return false;
            style = text.find('\n') != std::string::npos ? NodeStyle::Literal : NodeStyle::Block;
        } else if (o == Py_None) {
            text = "null";
        } else if (PyBool_Check(o)) {
            text = o == Py_True ? "true" : "false";
        } else if (PyLong_Check(o)) {
            if (!int_text(o, text)) return false;
        } else if (PyFloat_Check(o)) {
            if (!float_text(PyFloat_AS_DOUBLE(o), text)) return false;
        } else if (PyBytes_Check(o) || PyByteArray_Check(o)) {
            const bool bytes = PyBytes_Check(o);
            text = base64_lines(std::string_view(
                bytes ? PyBytes_AS_STRING(o) : PyByteArray_AS_STRING(o),
                static_cast<std::size_t>(bytes ? PyBytes_GET_SIZE(o) : PyByteArray_GET_SIZE(o))));
            // One line (or none) is written plain: also where a block scalar
            // may not stand.
            if (text.empty() || text.find('\n') + 1 == text.size()) {
                if (!text.empty()) text.pop_back();
            } else {
                style = NodeStyle::Literal;
            }
            if (!tag) tag = core_tag("binary");
        } else if (PyDate_Check(o)) {
            Ref utc;
            if (!whole_minute_offset(o, utc)) return false;
            Ref iso(PyObject_CallMethod(utc ? utc.get() : o, "isoformat", nullptr));
            if (!iso || !PyUnicode_Check(iso.get()) || !utf8_of(iso.get(), text)) {
                if (iso) PyErr_SetString(PyExc_TypeError, "isoformat() did not return a str");
                return false;
            }
            if (!tag) tag = core_tag("timestamp");
        } else {
            return place_collection(o, parent, slot, std::move(tag));
        }
        link(parent, slot, scalar(std::move(text), style, std::move(tag)));
        return true;
    }

    bool place_collection(PyObject* o, NodeIndex parent, std::uint32_t slot,
                          std::optional<NodeTag> tag) {
        // The empty tuple is one shared object: aliasing it would say nothing.
        const bool empty_tuple = PyTuple_Check(o) && PyTuple_GET_SIZE(o) == 0;
        if (!empty_tuple && seen_before(o, parent, slot)) return true;
        std::vector<Ref> children;
        bool mapping = false;
        if (PyDict_Check(o) && sort_keys_) {
            mapping = true;
            Ref items(PyDict_Items(o));
            if (!items || !pairs_in_key_order(items.get(), children)) return false;
        } else if (PyDict_Check(o)) {
            mapping = true;
            children.reserve(2 * static_cast<std::size_t>(PyDict_GET_SIZE(o)));
            PyObject* key = nullptr;
            PyObject* value = nullptr;
            Py_ssize_t pos = 0;
            while (PyDict_Next(o, &pos, &key, &value)) {
                children.emplace_back(Py_NewRef(key));
                children.emplace_back(Py_NewRef(value));
            }
        } else if (PyList_Check(o) || PyTuple_Check(o)) {
            Ref items(PySequence_Fast(o, ""));
            if (!items) return false;
            const Py_ssize_t n = PySequence_Fast_GET_SIZE(items.get());
            children.reserve(static_cast<std::size_t>(n));
            for (Py_ssize_t i = 0; i < n; ++i) {
                children.emplace_back(Py_NewRef(PySequence_Fast_GET_ITEM(items.get(), i)));
            }
        } else if (PyAnySet_Check(o)) {
            mapping = true;
            if (!tag) tag = core_tag("set");
            Ref it(PyObject_GetIter(o));
            if (!it) return false;
            while (Ref item{PyIter_Next(it.get())}) {
                children.push_back(std::move(item));
                children.emplace_back(Py_NewRef(Py_None));
            }
            if (PyErr_Occurred()) return false;
        } else if (PyObject_TypeCheck(o, reinterpret_cast<PyTypeObject*>(tagged_type_))) {
            return place_tagged(o, parent, slot);
        } else if (PyObject_TypeCheck(o, reinterpret_cast<PyTypeObject*>(flow_type_))) {
            return place_flow(o, parent, slot, std::move(tag));
        } else if (PyObject_TypeCheck(o, reinterpret_cast<PyTypeObject*>(doc_type_))) {
            return place_record(o, parent, slot);
        } else {
            return place_abstract(o, parent, slot, std::move(tag));
        }
        const NodeIndex node = collection(mapping, children.size(), std::move(tag));
        link(parent, slot, node);
        push_children(node, children);
        return true;
    }

    // A `Tagged(tag, value)`: its value's node, with the tag.
    bool place_tagged(PyObject* o, NodeIndex parent, std::uint32_t slot) {
        Ref tag(PyObject_GetAttrString(o, "tag"));
        if (!tag) return false;
        std::string name;
        if (!PyUnicode_Check(tag.get())) {
            PyErr_Format(PyExc_TypeError, "a Tagged's tag must be a str, not %.200s",
                         Py_TYPE(tag.get())->tp_name);
            return false;
        }
        if (!utf8_of(tag.get(), name)) return false;
        if (name.empty()) {
            PyErr_SetString(PyExc_ValueError, "a Tagged's tag cannot be empty");
            return false;
        }
        Ref value(PyObject_GetAttrString(o, "value"));
        if (!value) return false;
        // A node has one tag: a Tagged value (the Tagged itself included)
        // would need a second one, or be written without it.
        if (PyObject_TypeCheck(value.get(), reinterpret_cast<PyTypeObject*>(tagged_type_))) {
            Ref inner(PyObject_GetAttrString(value.get(), "tag"));
            if (!inner) return false;
            PyErr_Format(PyExc_ValueError,
                         "a Tagged's value cannot be a Tagged: a node has one tag (the tags "
                         "%R and %R)",
                         tag.get(), inner.get());
            return false;
        }
        // The Tagged stands for its value's node, unless that node is an
        // alias (the value met before), which has no room for the tag.
        const NodeIndex node = static_cast<NodeIndex>(doc_.nodes.size());
        if (!place(value.get(), parent, slot, tag_named(name))) return false;
        if (std::holds_alternative<kind::Alias>(doc_.nodes[node].kind)) seen_.erase(o);
        return true;
    }

    // A `Flow(value)`: its value's node, written in flow style when it is a
    // collection.
    bool place_flow(PyObject* o, NodeIndex parent, std::uint32_t slot, std::optional<NodeTag> tag) {
        Ref value(PyObject_GetAttrString(o, "value"));
        if (!value) return false;
        const NodeIndex node = static_cast<NodeIndex>(doc_.nodes.size());
        if (!place(value.get(), parent, slot, std::move(tag))) return false;
        if (node < doc_.nodes.size() && brackle_core::is_collection(doc_.nodes[node])) {
            doc_.nodes[node].style = NodeStyle::Flow;
        }
        if (std::holds_alternative<kind::Alias>(doc_.nodes[node].kind)) seen_.erase(o);
        return true;
    }

    // A `Doc` record, as `brackle.parse` gives: its root as it was read,
    // without positions and without comments but the one at the end of the
    // root's line. A scalar keeps its own text where that stands on one line
    // (`0600`, `'yes'`), and is written from its value otherwise, as the
    // text around it is new. A record without a root is an empty value.
    bool place_record(PyObject* o, NodeIndex parent, std::uint32_t slot) {
        Document record;
        Anchors anchors;
        if (!read_document(state_, o, record, anchors)) return false;
        if (!record.root) {
            link(parent, slot, scalar("", NodeStyle::Plain, std::nullopt));
            std::get<kind::Scalar>(doc_.nodes.back().kind).raw = "";
            return true;
        }
        const std::optional<brackle_core::Trivia> eol = record.nodes[*record.root].trivia.get().eol;
        for (Node& n : record.nodes) {
            n.line = n.col = 0;
            n.trivia = {};
            if (n.extras.present()) {
                brackle_core::NodeExtras& x = n.extras.edit();
                x.anchor_at = x.tag_at = x.header_at = std::nullopt;
                x.flow_seps.clear();
            }
            auto* scalar = std::get_if<kind::Scalar>(&n.kind);
            if (scalar && scalar->raw && scalar->raw->find_first_of("\r\n") != std::string::npos) {
                scalar->raw.reset();
            }
        }
        const NodeIndex root = brackle_core::graft(doc_, record);
        if (eol) doc_.nodes[root].trivia.edit().eol = eol;
        link(parent, slot, root);
        return true;
    }

    // Any other Mapping or Sequence, through its items.
    bool place_abstract(PyObject* o, NodeIndex parent, std::uint32_t slot,
                        std::optional<NodeTag> tag) {
        PyObject* mapping_class = abc_[0];
        PyObject* sequence_class = abc_[1];
        int is = PyObject_IsInstance(o, mapping_class);
        if (is < 0) return false;
        const bool mapping = is == 1;
        if (!mapping) {
            is = PyObject_IsInstance(o, sequence_class);
            if (is < 0) return false;
            if (is == 0) {
                if (PyObject* function = represent_function(Py_TYPE(o), true)) {
                    return place_represented(function, o, parent, slot, std::move(tag));
                }
                if (PyErr_Occurred()) return false;
                PyErr_Format(unknown_type_error_, "cannot represent an object of type '%.200s'",
                             Py_TYPE(o)->tp_name);
                return false;
            }
        }
        Ref items(mapping ? PyMapping_Items(o) : PySequence_List(o));
        if (!items) return false;
        std::vector<Ref> children;
        if (mapping) {
            if (!pairs_in_key_order(items.get(), children)) return false;
        } else {
            const Py_ssize_t n = PyList_GET_SIZE(items.get());
            children.reserve(static_cast<std::size_t>(n));
            for (Py_ssize_t i = 0; i < n; ++i) {
                children.emplace_back(Py_NewRef(PyList_GET_ITEM(items.get(), i)));
            }
        }
        const NodeIndex node = collection(mapping, children.size(), std::move(tag));
        link(parent, slot, node);
        push_children(node, children);
        return true;
    }

    // The keys and values of `items`, a list of a mapping's (key, value)
    // pairs, in key order when keys are sorted and they compare (as Python
    // sorts them; keys that do not compare keep their order).
    bool pairs_in_key_order(PyObject* items, std::vector<Ref>& children) {
        // A copy is sorted: a sort that fails part way leaves its list in
        // neither order.
        Ref sorted(sort_keys_ ? PyList_GetSlice(items, 0, PyList_GET_SIZE(items)) : nullptr);
        if (sort_keys_ && !sorted) return false;
        if (sorted && PyList_Sort(sorted.get()) == 0) {
            items = sorted.get();
        } else if (sorted) {
            if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
            PyErr_Clear();
        }
        const Py_ssize_t n = PyList_GET_SIZE(items);
        children.reserve(2 * static_cast<std::size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject* item = PyList_GET_ITEM(items, i);
            if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2) {
                PyErr_SetString(PyExc_TypeError,
                                "a mapping's items() must give (key, value) pairs");
                return false;
            }
            children.emplace_back(Py_NewRef(PyTuple_GET_ITEM(item, 0)));
            children.emplace_back(Py_NewRef(PyTuple_GET_ITEM(item, 1)));
        }
        return true;
    }

    State& state_;
    Document& doc_;
    PyObject* tagged_type_;
    PyObject* flow_type_;
    PyObject* doc_type_;
    PyObject* abc_[2];     // collections.abc.Mapping and Sequence
    PyObject* represent_;  // the caller's functions by type (a dict), or null
    bool sort_keys_;
    PyObject* unknown_type_error_;  // raised for an object of no known type
    // What the caller's functions made of each object, by its address.
    std::unordered_map<PyObject*, Ref> represented_;
    int represent_chain_ = 0;  // results in a row that needed a function again
    std::vector<Pending> stack_;
    // Each container met, by address, and its node; `keep_` holds them
    // alive so that no address is reused by another object meanwhile.
    std::unordered_map<PyObject*, NodeIndex> seen_;
    std::vector<Ref> keep_;
    std::size_t anchors_ = 0;
};

// The registered class `what` (named `name` in errors), which must be a
// type; null with an exception set otherwise.
PyObject* registered_type(State& state, Lookup what, const char* name) {
    PyObject* found = state.get(what);
    if (found != nullptr && !PyType_Check(found)) {
        PyErr_Format(PyExc_TypeError, "the %s class must be a type", name);
        return nullptr;
    }
    return found;
}

}  // namespace

bool represent(State& state, PyObject* data, Document& out, const RepresentOptions& options) {
    if (PyDateTimeAPI == nullptr) {
        PyDateTime_IMPORT;
        if (PyDateTimeAPI == nullptr) return false;
    }
    PyObject* tagged_type = registered_type(state, Lookup::Tagged, "Tagged");
    PyObject* flow_type = tagged_type ? registered_type(state, Lookup::Flow, "Flow") : nullptr;
    if (flow_type == nullptr) return false;
    PyObject* unknown_type_error = state.get(Lookup::RepresenterError);
    if (unknown_type_error == nullptr) return false;
    PyObject* doc_type = state.get(Lookup::Doc);
    if (doc_type == nullptr) return false;
    const Classes classes{tagged_type, flow_type, doc_type, unknown_type_error};
    return Builder(state, out, classes, options).build(data);
}

}  // namespace brackle_py
