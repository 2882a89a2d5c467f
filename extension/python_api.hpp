// What the extension module's files share: an owning reference, the
// module's state (interned names and the package's registered classes), and
// the conversions between the core's documents and the package's records.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "brackle/document.hpp"
#include "brackle/emit.hpp"

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
    X(FrozenDict) X(HashedTuple) X(construct_error) X(timestamp) X(binary)
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
    // collections.abc.Mapping and Sequence, for data of other classes.
    PyObject* mapping_abc = nullptr;
    PyObject* sequence_abc = nullptr;
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

// records_out.cpp: a `Doc` record for each document, in a new list.
Ref build_records(State& state, std::vector<brackle_core::Document>& documents);

// The anchors written so far in a stream: an alias must name one of them.
using Anchors = std::unordered_set<std::string>;

// records_in.cpp: one document from a `Doc` record, and the options from an
// `EmitOptions` record; false with an exception set on failure. `anchors`
// gathers the anchors of the stream's documents, one document after another.
bool read_document(State& state, PyObject* record, brackle_core::Document& out, Anchors& anchors);
bool read_options(State& state, PyObject* record, brackle_core::EmitOptions& out);

// construct.cpp: each document's data, in a new list. `version` 11 or 12
// sets the schema of every document, 0 lets each document's `%YAML` decide;
// `source` and `name` are for error messages.
Ref build_data(State& state, std::vector<brackle_core::Document>& documents, PyObject* source,
               PyObject* name, bool allow_duplicate_keys, int version);
// construct.cpp: for each document, a pair of its data and a list of each
// node's object (see `Builder::document`); no document is dropped.
Ref build_node_data(State& state, const std::vector<brackle_core::Document>& documents,
                    PyObject* source, PyObject* name, bool allow_duplicate_keys);
// represent.cpp: one document from Python data, `Tagged` objects written as
// their `value` with their `tag`; false with an exception set on failure.
bool represent(State& state, PyObject* data, brackle_core::Document& out);

}  // namespace brackle_py
