// What the extension module's files share: an owning reference, the
// module's state (interned names and the package's registered classes), and
// the conversions between the core's documents and the package's records.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
// After Python.h, which it needs.
#include <structmember.h>

#include <array>
#include <cstddef>
#include <exception>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "brackle/document.hpp"
#include "brackle/edit.hpp"
#include "brackle/emit.hpp"
#include "brackle/load.hpp"

namespace brackle_py {

// An owned reference; null means an exception is set.
class Ref {
public:
    Ref() = default;
    explicit Ref(PyObject* owned) : p_(owned) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
    Ref& operator=(Ref&& o) noexcept {
        if (this != &o) {
            Py_XDECREF(p_);
            p_ = o.p_;
            o.p_ = nullptr;
        }
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const { return p_; }
    PyObject* release() {
        PyObject* p = p_;
        p_ = nullptr;
        return p;
    }
    explicit operator bool() const { return p_ != nullptr; }

private:
    PyObject* p_ = nullptr;
};

// Attribute names, interned when the module is made.
struct Names {
// clang-format off
#define BRACKLE_PY_NAMES(X)                                                                   \
    X(kind) X(style) X(anchor) X(tag) X(value) X(raw) X(line) X(col) X(children) X(merge)     \
    X(explicit_) X(before) X(eol) X(inner) X(after) X(tag_first) X(flow_seps) X(anchor_at)    \
    X(tag_at) X(header_at) X(colon) X(version) X(tag_directives) X(explicit_start)            \
    X(explicit_end) X(root) X(nodes) X(leading) X(trailing) X(bom) X(final_line_break)        \
    X(tags_before_version) X(directives_raw) X(stream_tail) X(line_space)                     \
    X(other_line_breaks) X(text) X(own_line) X(blank_lines) X(line_break) X(map_indent)       \
    X(seq_indent) X(seq_offset) X(width) X(default_flow_style) X(preserve_quotes)
// clang-format on
#define BRACKLE_PY_FIELD(name) PyObject* name = nullptr;
    BRACKLE_PY_NAMES(BRACKLE_PY_FIELD)
#undef BRACKLE_PY_FIELD
};

// The package's classes and functions that the module calls, which the
// package hands over once, at import, through `_register`; the keyword of
// each is its name here.
// clang-format off
#define BRACKLE_PY_CLASSES(X)                                                                 \
    X(Node) X(Doc) X(Trivia) X(make_error) X(EmitterError) X(InternalError) X(Tagged)         \
    X(FrozenDict) X(HashedTuple) X(construct_error) X(timestamp) X(binary)                  \
    X(RepresenterError) X(Flow) X(EditError)
// clang-format on
enum class Lookup {
#define BRACKLE_PY_ENUM(name) name,
    BRACKLE_PY_CLASSES(BRACKLE_PY_ENUM)
#undef BRACKLE_PY_ENUM
};
inline constexpr std::size_t lookup_count = 0
#define BRACKLE_PY_COUNT(name) +1
    BRACKLE_PY_CLASSES(BRACKLE_PY_COUNT)
#undef BRACKLE_PY_COUNT
    ;

// The module's state: one per module object, so that interpreters do not
// share it. Everything in it is read and written under the interpreter lock.
struct State {
    Names names;
    PyObject* registered[lookup_count] = {};
    // The `__init__` of the Node and Trivia classes when they were
    // registered: records are filled in place only while it is still theirs.
    PyObject* node_init = nullptr;
    PyObject* trivia_init = nullptr;
    // collections.abc.Mapping and Sequence, for data of other classes.
    PyObject* mapping_abc = nullptr;
    PyObject* sequence_abc = nullptr;
    // The type of `_iter_load`'s iterators (load_stream.cpp).
    PyObject* document_stream_type = nullptr;
    // The type of `_edit_read`'s editors (edit_document.cpp).
    PyObject* edit_document_type = nullptr;
    // The collector pauses under way, and whether it ran before the first.
    int pauses = 0;
    bool collector_was_enabled = false;

    // A borrowed reference to a registered object, or null with an
    // exception set when the package has not registered it.
    PyObject* get(Lookup what);
};

// Pauses the cyclic collector for its lifetime. Building or reading the
// records of a large document makes millions of container objects (records
// and their lists; iterators), each batch of which would otherwise set off a
// collection that walks every record alive; none of them can become
// cyclic garbage meanwhile. Pauses on several threads nest: the collector
// runs again when the last one ends, so one thread's end does not set it off
// while another thread is still building.
class CollectorPause {
public:
    explicit CollectorPause(State& state);
    CollectorPause(const CollectorPause&) = delete;
    CollectorPause& operator=(const CollectorPause&) = delete;
    ~CollectorPause();

private:
    State& state_;
};

// Where a record class keeps N named attributes when each is a plain object
// slot (`__slots__`) that can be written: then records of exactly that class
// are read and filled in place, without a call per attribute. A class with
// any other kind of attribute of those names gets no table, and its records
// go through the attribute protocol.
template <std::size_t N>
class SlotTable {
public:
    // False with an exception set when looking an attribute up fails for
    // another reason than its absence.
    bool read(PyObject* cls, const std::array<PyObject*, N>& names) {
        type_ = nullptr;
        names_ = names;
        if (!PyType_Check(cls)) return true;
        for (std::size_t i = 0; i < N; ++i) {
            Ref slot(PyObject_GetAttr(cls, names[i]));
            if (!slot) {
                if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
                PyErr_Clear();
                return true;
            }
            if (!Py_IS_TYPE(slot.get(), &PyMemberDescr_Type)) return true;
            const PyMemberDef* member =
                reinterpret_cast<PyMemberDescrObject*>(slot.get())->d_member;
            if (member->type != T_OBJECT_EX || (member->flags & READONLY) != 0) return true;
            offsets_[i] = member->offset;
        }
        type_ = reinterpret_cast<PyTypeObject*>(cls);
        return true;
    }

    // The class, when its records can be read and filled in place.
    PyTypeObject* type() const { return type_; }
    // The slot of the i-th name in `record`, a record of exactly `type()`;
    // null while the slot is unset.
    PyObject*& slot(PyObject* record, std::size_t i) const {
        return *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(record) + offsets_[i]);
    }
    // The set slot of attribute `name` in `record`, when the record is
    // exactly of the class and `name` one of the names (the same interned
    // object); else null.
    PyObject* find(PyObject* record, PyObject* name) const {
        if (type_ == nullptr || Py_TYPE(record) != type_) return nullptr;
        for (std::size_t i = 0; i < N; ++i) {
            if (names_[i] == name) return slot(record, i);
        }
        return nullptr;
    }

private:
    PyTypeObject* type_ = nullptr;
    std::array<PyObject*, N> names_{};
    std::array<Py_ssize_t, N> offsets_{};
};

// The fields of a `Node` and of a `Trivia` record, in the order of their
// classes' parameters.
inline constexpr std::size_t node_field_count = 21;
inline std::array<PyObject*, node_field_count> node_fields(const Names& n) {
    return {n.kind,  n.style,     n.anchor,    n.tag,       n.value,  n.raw,       n.line,
            n.col,   n.children,  n.merge,     n.explicit_, n.before, n.eol,       n.inner,
            n.after, n.tag_first, n.flow_seps, n.anchor_at, n.tag_at, n.header_at, n.colon};
}
inline constexpr std::size_t trivia_field_count = 4;
inline std::array<PyObject*, trivia_field_count> trivia_fields(const Names& n) {
    return {n.text, n.own_line, n.col, n.blank_lines};
}

// Calls `callable` with the arguments, all of which must be made (an
// argument that failed leaves its exception set and nothing is called).
template <std::size_t N>
Ref call(PyObject* callable, Ref (&args)[N]) {
    PyObject* raw[N];
    for (std::size_t i = 0; i < N; ++i) {
        if (!args[i]) return Ref();
        raw[i] = args[i].get();
    }
    return Ref(PyObject_Vectorcall(callable, raw, N, nullptr));
}

// Raises what `factory(args)` returns: an exception instance as it is, an
// exception class with None, anything else as a TypeError.
void raise_made(PyObject* made);
// Raises the package's internal-failure exception with `message`.
void raise_internal(State& state, std::string_view message);

// Runs `body` and turns what escapes the core as a C++ exception into the
// package's internal failure (or MemoryError); nothing crosses the module
// boundary.
template <class Body>
PyObject* guarded(State& state, Body&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& e) {
        raise_internal(state, std::string("brackle: ") + e.what());
    } catch (...) {
        raise_internal(state, "brackle: unknown failure");
    }
    return nullptr;
}

// Runs `core` with the interpreter lock released. What it throws is caught
// before the lock is taken back and thrown again after.
template <class Core>
auto without_lock(Core&& core) -> decltype(core()) {
    decltype(core()) result{};
    std::exception_ptr failure;
    Py_BEGIN_ALLOW_THREADS
    try {
        result = core();
    } catch (...) {
        failure = std::current_exception();
    }
    Py_END_ALLOW_THREADS
    if (failure) std::rethrow_exception(failure);
    return result;
}

// The source's UTF-8 text as given (`whole`), and less one leading
// byte-order mark (`text`). The loader takes the mark off and records it
// itself; its error positions count in `text`. A second mark is text: taking
// it off too would lose it, and a third would read back as a second.
struct Source {
    std::string_view whole;
    std::string_view text;
};

// The UTF-8 of `source`, a str or bytes (bytes must be UTF-8: others raise
// UnicodeDecodeError); false with an exception set.
bool source_of(PyObject* source, Source& out);

// The name a source goes by in errors when the caller gives none.
inline constexpr std::string_view no_name = "<unicode string>";

// Raises the package's error for a load that failed; `source` is the text
// its position counts in.
void raise_parse_error(State& state, const brackle_core::ParseError& e, std::string_view source,
                       std::string_view name);

// records_out.cpp: a `Doc` record for each document `reader` gives, in a
// new list; each document is loaded without the interpreter lock, built and
// let go before the next is loaded. Null with an exception set when building
// fails; null without one when the load fails (`reader.error()` holds it).
Ref build_records(State& state, brackle_core::loader::Reader& reader);

// The anchors written so far in a stream: an alias must name one of them.
using Anchors = std::unordered_set<std::string>;

// records_in.cpp: one document from a `Doc` record, and the options from an
// `EmitOptions` record; false with an exception set on failure. `anchors`
// gathers the anchors of the stream's documents, one document after another.
bool read_document(State& state, PyObject* record, brackle_core::Document& out, Anchors& anchors);
bool read_options(State& state, PyObject* record, brackle_core::EmitOptions& out);

// A new str of the UTF-8 text `s`; null with an exception set when it is
// not UTF-8.
inline PyObject* str_of(std::string_view s) {
    return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "strict");
}

// Short texts made into one str each: the keys of a stream's mappings, and
// many of its values, repeat from entry to entry and document to document,
// so each distinct one is made (and hashed, as a dict key) once. A str is
// immutable, so sharing it changes nothing a caller can see but its
// identity. The cache holds a bounded number of texts, each up to
// `max_bytes`: beyond that, texts are made as they come.
class TextCache {
public:
    static constexpr std::size_t max_bytes = 32;
    static constexpr std::size_t max_texts = 8192;

    TextCache() = default;
    TextCache(const TextCache&) = delete;
    TextCache& operator=(const TextCache&) = delete;
    ~TextCache() {
        for (auto& [text, str] : texts_) Py_DECREF(str);
    }

    // A new reference to the str of the UTF-8 text `s`; null with an
    // exception set when it cannot be made.
    PyObject* str(std::string_view s) {
        if (s.size() > max_bytes) return str_of(s);
        if (const auto found = texts_.find(s); found != texts_.end()) {
            return Py_NewRef(found->second);
        }
        PyObject* made = str_of(s);
        if (made != nullptr && texts_.size() < max_texts) {
            texts_.emplace(std::string(s), Py_NewRef(made));
        }
        return made;
    }

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const {
            return std::hash<std::string_view>{}(s);
        }
    };
    std::unordered_map<std::string, PyObject*, Hash, std::equal_to<>> texts_;
};

// How a document's data is built: `source` and `name` for error messages,
// `version` 11 or 12 for the schema of every document (0 lets each
// document's `%YAML` decide), `tags`, a dict of the caller's functions
// by tag (or null), and whether a tag with neither a rule nor a function is
// an error instead of a `Tagged`.
struct DataOptions {
    PyObject* source = nullptr;
    PyObject* name = nullptr;
    bool allow_duplicate_keys = false;
    int version = 0;
    PyObject* tags = nullptr;
    bool unknown_tags_fail = false;
    TextCache* texts = nullptr;  // shared by the documents of one call, when given
};
// construct.cpp: one document's data.
Ref build_document_data(State& state, const brackle_core::Document& document,
                        const DataOptions& options);
// construct.cpp: whether a document is what a stream of only comments and
// blank lines loads as: no node, no marker, no directive. As the only
// document of a stream it holds no data.
bool holds_no_data(const brackle_core::Document& document);
// load_stream.cpp: makes the iterator type into `state`, once per module.
bool add_document_stream_type(PyObject* module, State& state);
// load_stream.cpp: an iterator over the data of the documents of `source`
// (a str, or bytes in UTF-8), which it reads one at a time; `name` (or null
// for the default) names the source in errors. Null with an exception set.
PyObject* new_document_stream(State& state, PyObject* source, PyObject* name,
                              const DataOptions& options);
// edit_document.cpp: makes the editor type into `state`, once per module;
// and an editor object holding `editor` (null with an exception set).
bool add_edit_document_type(PyObject* module, State& state);
PyObject* new_edit_document(State& state, brackle_core::edit::Editor&& editor);
// construct.cpp: for each document, a pair of its data and a list of each
// node's object (see `Builder::document`); no document is dropped.
Ref build_node_data(State& state, const std::vector<brackle_core::Document>& documents,
                    PyObject* source, PyObject* name, bool allow_duplicate_keys);
// How data becomes a document: `functions`, a dict of the caller's
// functions by type (or null), and whether mappings are written with their
// keys in order.
struct RepresentOptions {
    PyObject* functions = nullptr;
    bool sort_keys = false;
};
// represent.cpp: one document from Python data, `Tagged` objects written as
// their `value` with their `tag`, objects of the types in `functions` as
// what their function makes of them; false with an exception set on failure.
bool represent(State& state, PyObject* data, brackle_core::Document& out,
               const RepresentOptions& options);

}  // namespace brackle_py
