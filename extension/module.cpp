// The extension module brackle._brackle: `parse`, `emit`, `_roundtrip_in_rust`,
// and for the package's own modules `_iter_load`, `_dump_all`, `_edit_open` and `_edit_read`. Each
// function reads its arguments with the interpreter lock held, releases the lock for exactly the
// core call, and turns the core's errors into the package's exceptions.
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "brackle/load.hpp"
#include "brackle/read.hpp"
#include "python_api.hpp"

namespace brackle_py {

// ---- the module's state ----------------------------------------------------

PyObject* State::get(Lookup what) {
    PyObject* found = registered[static_cast<std::size_t>(what)];
    if (found == nullptr) {
        PyErr_SetString(PyExc_RuntimeError,
                        "brackle._brackle: the brackle package has not registered its classes "
                        "(import brackle first)");
    }
    return found;
}

CollectorPause::CollectorPause(State& state) : state_(state) {
    if (state_.pauses++ == 0) state_.collector_was_enabled = PyGC_Disable() != 0;
}

CollectorPause::~CollectorPause() {
    if (--state_.pauses == 0 && state_.collector_was_enabled) PyGC_Enable();
}

void raise_made(PyObject* made) {
    if (made == nullptr) return;  // the factory raised: that propagates
    if (PyExceptionInstance_Check(made)) {
        PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(made)), made);
    } else if (PyExceptionClass_Check(made)) {
        PyErr_SetNone(made);
    } else {
        PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
    }
}

void raise_internal(State& state, std::string_view message) {
    PyObject* cls = state.get(Lookup::InternalError);
    if (cls == nullptr) return;
    Ref text(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (!text) return;
    Ref made(PyObject_CallOneArg(cls, text.get()));
    raise_made(made.get());
}

namespace {

// Whether `s` is well-formed UTF-8: no stray or missing continuation byte,
// no overlong form, no surrogate, nothing past U+10FFFF. ASCII, the usual
// text, is skipped eight bytes at a time.
bool is_utf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const unsigned char* const end = p + s.size();
    while (p < end) {
        if (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            if ((word & 0x8080808080808080ull) == 0) {
                p += 8;
                continue;
            }
        }
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        const std::ptrdiff_t width = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
        if (width == 0 || c > 0xF4 || c == 0xC0 || c == 0xC1 || end - p < width) return false;
        for (std::ptrdiff_t k = 1; k < width; ++k) {
            if ((p[k] & 0xC0) != 0x80) return false;
        }
        // The second byte's range for the leads whose shortest form or
        // reach it limits.
        if ((c == 0xE0 && p[1] < 0xA0) || (c == 0xED && p[1] > 0x9F) ||
            (c == 0xF0 && p[1] < 0x90) || (c == 0xF4 && p[1] > 0x8F))
            return false;
        p += width;
    }
    return true;
}

}  // namespace

bool source_of(PyObject* source, Source& out) {
    if (PyBytes_Check(source)) {
        out.whole = std::string_view(PyBytes_AS_STRING(source),
                                     static_cast<std::size_t>(PyBytes_GET_SIZE(source)));
        // Not UTF-8: the decoder says where and why.
        if (!is_utf8(out.whole)) {
            Py_XDECREF(str_of(out.whole));
            if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "the source is not UTF-8");
            return false;
        }
    } else {
        Py_ssize_t size = 0;
        const char* data = PyUnicode_AsUTF8AndSize(source, &size);
        if (data == nullptr) return false;
        out.whole = std::string_view(data, static_cast<std::size_t>(size));
    }
    out.text = out.whole;
    if (out.text.starts_with("\xEF\xBB\xBF")) out.text.remove_prefix(3);
    return true;
}

void raise_parse_error(State& state, const brackle_core::ParseError& e, std::string_view source,
                       std::string_view name) {
    if (e.internal) return raise_internal(state, e.message);
    PyObject* make_error = state.get(Lookup::make_error);
    if (make_error == nullptr) return;
    Ref args[] = {
        Ref(PyUnicode_FromString("scanner")),
        Ref(PyUnicode_FromStringAndSize(e.message.data(),
                                        static_cast<Py_ssize_t>(e.message.size()))),
        Ref(PyLong_FromUnsignedLong(e.line)),
        Ref(PyLong_FromUnsignedLong(e.col)),
        Ref(PyLong_FromUnsignedLongLong(e.index)),
        Ref(PyUnicode_FromStringAndSize(source.data(), static_cast<Py_ssize_t>(source.size()))),
        Ref(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()))),
    };
    raise_made(call(make_error, args).get());
}

namespace {

using brackle_core::Document;
using brackle_core::EmitOptions;

void raise_emit_error(State& state, const brackle_core::EmitError& e) {
    PyObject* cls = state.get(Lookup::EmitterError);
    if (cls == nullptr) return;
    const std::string message = e.message();
    Ref text(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (!text) return;
    PyObject* args[] = {Py_None, Py_None, text.get(), Py_None};
    Ref made(PyObject_Vectorcall(cls, args, 4, nullptr));
    raise_made(made.get());
}

PyObject* text_result(State& state, const brackle_core::EmitResult& result) {
    if (const auto* e = std::get_if<brackle_core::EmitError>(&result)) {
        raise_emit_error(state, *e);
        return nullptr;
    }
    return str_of(std::get<std::string>(result));
}

State& state_of(PyObject* module) { return *static_cast<State*>(PyModule_GetState(module)); }

// ---- arguments -------------------------------------------------------------

// Fast-call arguments matched to parameter names: positional ones first,
// then keywords; the first missing, duplicated or unknown one raises.
struct Params {
    const char* function;
    std::span<const char* const> names;
    std::size_t positional;  // how many may be given by position
    std::size_t required;    // the first ones must be given
};

bool take_args(const Params& p, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
               std::span<PyObject*> out) {
    std::fill(out.begin(), out.end(), nullptr);
    if (static_cast<std::size_t>(nargs) > p.positional) {
        PyErr_Format(PyExc_TypeError, "%s() takes %zu positional arguments but %zd were given",
                     p.function, p.positional, nargs);
        return false;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        std::size_t slot = p.names.size();
        for (std::size_t j = 0; j < p.names.size(); ++j) {
            if (PyUnicode_CompareWithASCIIString(key, p.names[j]) == 0) slot = j;
        }
        if (slot == p.names.size()) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
                         p.function, key);
            return false;
        }
        if (out[slot] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", p.function,
                         p.names[slot]);
            return false;
        }
        out[slot] = args[nargs + k];
    }
    for (std::size_t j = 0; j < p.required; ++j) {
        if (out[j] == nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zu)",
                         p.function, p.names[j], j + 1);
            return false;
        }
    }
    return true;
}

bool argument_type(const char* function, const char* name, PyObject* value, bool ok,
                   const char* expected) {
    if (!ok) {
        PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s, not %.200s", function, name,
                     expected, Py_TYPE(value)->tp_name);
    }
    return ok;
}

// ---- the three functions ---------------------------------------------------

PyObject* parse(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    State& state = state_of(module);
    static constexpr const char* param_names[] = {"source", "allow_duplicate_keys", "name"};
    PyObject* a[3];
    if (!take_args({"parse", param_names, 1, 1}, args, nargs, kwnames, a)) return nullptr;
    if (!argument_type("parse", "source", a[0], PyUnicode_Check(a[0]), "str")) return nullptr;
    if (a[1] && !argument_type("parse", "allow_duplicate_keys", a[1], PyBool_Check(a[1]), "bool"))
        return nullptr;
    if (a[2] && !argument_type("parse", "name", a[2], PyUnicode_Check(a[2]), "str")) return nullptr;

    return guarded(state, [&]() -> PyObject* {
        Source source;
        if (!source_of(a[0], source)) return nullptr;
        // The reader's set-up reads the whole text once: without the lock.
        const auto reader = without_lock(
            [&] { return std::make_unique<brackle_core::loader::Reader>(source.whole, true); });
        Ref records = build_records(state, *reader);
        if (const auto& e = reader->error()) {
            std::string_view name = no_name;
            Py_ssize_t size = 0;
            if (a[2]) {
                const char* data = PyUnicode_AsUTF8AndSize(a[2], &size);
                if (data == nullptr) return nullptr;
                name = std::string_view(data, static_cast<std::size_t>(size));
            }
            raise_parse_error(state, *e, source.text, name);
            return nullptr;
        }
        return records.release();
    });
}

PyObject* emit(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    State& state = state_of(module);
    static constexpr const char* param_names[] = {"docs", "opts"};
    PyObject* a[2];
    if (!take_args({"emit", param_names, 2, 2}, args, nargs, kwnames, a)) return nullptr;
    return guarded(state, [&]() -> PyObject* {
        std::vector<Document> documents;
        {
            const CollectorPause pause(state);
            Ref it(PyObject_GetIter(a[0]));
            if (!it) return nullptr;
            Anchors anchors;
            while (Ref record{PyIter_Next(it.get())}) {
                if (!read_document(state, record.get(), documents.emplace_back(), anchors)) {
                    return nullptr;
                }
            }
            if (PyErr_Occurred()) return nullptr;
        }
        EmitOptions options;
        if (!read_options(state, a[1], options)) return nullptr;
        const brackle_core::EmitResult result =
            without_lock([&] { return brackle_core::emitter::emit(documents, options); });
        return text_result(state, result);
    });
}

PyObject* roundtrip(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    State& state = state_of(module);
    static constexpr const char* param_names[] = {"source", "opts"};
    PyObject* a[2];
    if (!take_args({"_roundtrip_in_rust", param_names, 2, 2}, args, nargs, kwnames, a))
        return nullptr;
    if (!argument_type("_roundtrip_in_rust", "source", a[0], PyUnicode_Check(a[0]), "str"))
        return nullptr;
    return guarded(state, [&]() -> PyObject* {
        EmitOptions options;
        if (!read_options(state, a[1], options)) return nullptr;
        Source source;
        if (!source_of(a[0], source)) return nullptr;
        brackle_core::RoundTripResult outcome =
            without_lock([&] { return brackle_core::emitter::round_trip(source.whole, options); });
        if (auto* e = std::get_if<brackle_core::ParseError>(&outcome)) {
            raise_parse_error(state, *e, source.text, no_name);
            return nullptr;
        }
        if (auto* e = std::get_if<brackle_core::EmitError>(&outcome)) {
            raise_emit_error(state, *e);
            return nullptr;
        }
        return str_of(std::get<std::string>(outcome));
    });
}

// Loads the text `str` for a data path, with where its documents (and
// nodes) stand when `spans` is given; `shown_name` becomes `name`, or the default name when `name`
// is null, for error positions. Nothing, with the parse error raised, when the text is not
// well-formed.
std::optional<std::vector<Document>> load_named(State& state, PyObject* str, PyObject* name,
                                                Ref& shown_name,
                                                brackle_core::SourceSpans* spans = nullptr) {
    Source source;
    if (!source_of(str, source)) return std::nullopt;
    shown_name = Ref(name ? Py_NewRef(name)
                          : PyUnicode_FromStringAndSize(no_name.data(),
                                                        static_cast<Py_ssize_t>(no_name.size())));
    if (!shown_name) return std::nullopt;
    brackle_core::LoadResult loaded =
        without_lock([&] { return brackle_core::loader::parse(source.whole, spans); });
    if (auto* e = std::get_if<brackle_core::ParseError>(&loaded)) {
        Py_ssize_t size = 0;
        const char* data = PyUnicode_AsUTF8AndSize(shown_name.get(), &size);
        if (data == nullptr) return std::nullopt;
        raise_parse_error(state, *e, source.text,
                          std::string_view(data, static_cast<std::size_t>(size)));
        return std::nullopt;
    }
    return std::move(std::get<std::vector<Document>>(loaded));
}

// An iterator over the data of the documents of `source` (see
// load_stream.cpp); not in `__all__`: `brackle.iter_load` is its public face.
PyObject* iter_load(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    State& state = state_of(module);
    static constexpr const char* param_names[] = {"source",  "name", "allow_duplicate_keys",
                                                  "version", "tags", "unknown_tags_fail"};
    PyObject* a[6];
    if (!take_args({"_iter_load", param_names, 6, 1}, args, nargs, kwnames, a)) return nullptr;
    if (!argument_type("_iter_load", "source", a[0], PyUnicode_Check(a[0]) || PyBytes_Check(a[0]),
                       "str or bytes"))
        return nullptr;
    PyObject* name = a[1] && a[1] != Py_None ? a[1] : nullptr;
    if (name && !argument_type("_iter_load", "name", name, PyUnicode_Check(name), "str"))
        return nullptr;
    const int allow = a[2] ? PyObject_IsTrue(a[2]) : 0;
    if (allow < 0) return nullptr;
    DataOptions options;
    options.allow_duplicate_keys = allow != 0;
    if (a[3] && a[3] != Py_None) {
        int major = 0, minor = 0;
        if (!PyTuple_Check(a[3]) || !PyArg_ParseTuple(a[3], "ii", &major, &minor) || major != 1 ||
            (minor != 1 && minor != 2)) {
            if (!PyErr_Occurred() || PyErr_ExceptionMatches(PyExc_TypeError)) {
                PyErr_Clear();
                PyErr_SetString(PyExc_ValueError, "version must be None, (1, 1) or (1, 2)");
            }
            return nullptr;
        }
        options.version = 10 + minor;
    }
    PyObject* tags = a[4] && a[4] != Py_None ? a[4] : nullptr;
    if (tags && !argument_type("_iter_load", "tags", tags, PyDict_Check(tags), "a dict or None"))
        return nullptr;
    options.tags = tags;
    const int unknown_tags_fail = a[5] ? PyObject_IsTrue(a[5]) : 0;
    if (unknown_tags_fail < 0) return nullptr;
    options.unknown_tags_fail = unknown_tags_fail != 0;
    return guarded(state, [&] { return new_document_stream(state, a[0], name, options); });
}

// Reads the arguments of the edit API's loads: `source` (a str), `name`
// and `allow_duplicate_keys`.
bool edit_args(const char* function, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
               PyObject*& source, PyObject*& name, bool& allow) {
    static constexpr const char* param_names[] = {"source", "name", "allow_duplicate_keys"};
    PyObject* a[3];
    if (!take_args({function, param_names, 3, 1}, args, nargs, kwnames, a)) return false;
    if (!argument_type(function, "source", a[0], PyUnicode_Check(a[0]), "str")) return false;
    name = a[1] && a[1] != Py_None ? a[1] : nullptr;
    if (name && !argument_type(function, "name", name, PyUnicode_Check(name), "str")) return false;
    const int allowed = a[2] ? PyObject_IsTrue(a[2]) : 0;
    if (allowed < 0) return false;
    source = a[0];
    allow = allowed != 0;
    return true;
}

// A new list of the numbers in `values`.
Ref index_list(const std::vector<std::size_t>& values) {
    Ref out(PyList_New(static_cast<Py_ssize_t>(values.size())));
    if (!out) return out;
    for (std::size_t j = 0; j < values.size(); ++j) {
        PyObject* at = PyLong_FromSize_t(values[j]);
        if (at == nullptr) return Ref();
        PyList_SET_ITEM(out.get(), static_cast<Py_ssize_t>(j), at);
    }
    return out;
}

// What the edit API opens a stream with (python/brackle/editing.py): for
// each document of `source`, its data and where its text begins.
PyObject* edit_open(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    State& state = state_of(module);
    PyObject* source = nullptr;
    PyObject* name = nullptr;
    bool allow = false;
    if (!edit_args("_edit_open", args, nargs, kwnames, source, name, allow)) return nullptr;
    return guarded(state, [&]() -> PyObject* {
        Ref shown_name;
        brackle_core::SourceSpans spans;
        spans.with_nodes = false;
        std::optional<std::vector<Document>> loaded =
            load_named(state, source, name, shown_name, &spans);
        if (!loaded) return nullptr;
        const std::vector<Document>& documents = *loaded;
        TextCache texts;
        DataOptions options;
        options.source = source;
        options.name = shown_name.get();
        options.allow_duplicate_keys = allow;
        options.texts = &texts;
        Ref data(PyList_New(static_cast<Py_ssize_t>(documents.size())));
        if (!data) return nullptr;
        for (std::size_t i = 0; i < documents.size(); ++i) {
            Ref one = build_document_data(state, documents[i], options);
            if (!one) return nullptr;
            PyList_SET_ITEM(data.get(), static_cast<Py_ssize_t>(i), one.release());
        }
        Ref starts = index_list(spans.document_starts);
        if (!starts) return nullptr;
        return PyTuple_Pack(2, data.get(), starts.get());
    });
}

// What the edit API edits a document with: for `source`, the text of one
// document, a tuple of its editor, its data and each node's object; None
// when the text holds another number of documents.
PyObject* edit_read(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    State& state = state_of(module);
    PyObject* source = nullptr;
    PyObject* name = nullptr;
    bool allow = false;
    if (!edit_args("_edit_read", args, nargs, kwnames, source, name, allow)) return nullptr;
    return guarded(state, [&]() -> PyObject* {
        Source text;
        if (!source_of(source, text)) return nullptr;
        auto read = brackle_core::edit::Editor::read(std::string(text.whole));
        if (auto* e = std::get_if<brackle_core::ParseError>(&read)) {
            const char* shown = name ? PyUnicode_AsUTF8(name) : no_name.data();
            if (shown != nullptr) raise_parse_error(state, *e, text.text, shown);
            return nullptr;
        }
        brackle_core::edit::Editor& editor = std::get<brackle_core::edit::Editor>(read);
        if (editor.documents().size() != 1) return Py_NewRef(Py_None);
        Ref shown_name(name ? Py_NewRef(name)
                            : PyUnicode_FromStringAndSize(no_name.data(),
                                                          static_cast<Py_ssize_t>(no_name.size())));
        if (!shown_name) return nullptr;
        Ref data = build_node_data(state, editor.documents(), source, shown_name.get(), allow);
        if (!data) return nullptr;
        Ref held(new_edit_document(state, std::move(editor)));
        if (!held) return nullptr;
        PyObject* pair = PyList_GET_ITEM(data.get(), 0);
        return PyTuple_Pack(3, held.get(), PyTuple_GET_ITEM(pair, 0), PyTuple_GET_ITEM(pair, 1));
    });
}

PyObject* dump_all(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    State& state = state_of(module);
    static constexpr const char* param_names[] = {"documents", "opts", "represent", "sort_keys"};
    PyObject* a[4];
    if (!take_args({"_dump_all", param_names, 4, 2}, args, nargs, kwnames, a)) return nullptr;
    RepresentOptions how;
    how.functions = a[2] && a[2] != Py_None ? a[2] : nullptr;
    if (how.functions && !argument_type("_dump_all", "represent", how.functions,
                                        PyDict_Check(how.functions), "a dict or None"))
        return nullptr;
    const int sort_keys = a[3] ? PyObject_IsTrue(a[3]) : 0;
    if (sort_keys < 0) return nullptr;
    how.sort_keys = sort_keys != 0;
    return guarded(state, [&]() -> PyObject* {
        EmitOptions options;
        if (!read_options(state, a[1], options)) return nullptr;
        std::vector<Document> documents;
        Ref it(PyObject_GetIter(a[0]));
        if (!it) return nullptr;
        while (Ref data{PyIter_Next(it.get())}) {
            if (!represent(state, data.get(), documents.emplace_back(), how)) return nullptr;
        }
        if (PyErr_Occurred()) return nullptr;
        const brackle_core::EmitResult result =
            without_lock([&] { return brackle_core::emitter::emit(documents, options); });
        return text_result(state, result);
    });
}

// The `__init__` of a registered class, or null when it has none it can
// tell (a class given as None).
PyObject* init_of(PyObject* cls) {
    if (cls == nullptr || cls == Py_None) return nullptr;
    return PyObject_GetAttrString(cls, "__init__");
}

// Takes the package's classes and functions, by keyword, once at import.
PyObject* register_classes(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
    State& state = state_of(module);
    static constexpr const char* param_names[] = {
#define BRACKLE_PY_PARAM(name) #name,
        BRACKLE_PY_CLASSES(BRACKLE_PY_PARAM)
#undef BRACKLE_PY_PARAM
    };
    PyObject* a[lookup_count];
    if (!take_args({"_register", param_names, 0, lookup_count}, args, nargs, kwnames, a)) {
        return nullptr;
    }
    for (std::size_t i = 0; i < lookup_count; ++i) {
        Py_XSETREF(state.registered[i], Py_NewRef(a[i]));
    }
    Py_XSETREF(state.node_init, init_of(a[static_cast<std::size_t>(Lookup::Node)]));
    Py_XSETREF(state.trivia_init, init_of(a[static_cast<std::size_t>(Lookup::Trivia)]));
    if (PyErr_Occurred()) return nullptr;
    Py_RETURN_NONE;
}

// ---- the module --------------------------------------------------------------

PyObject* relayout(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    State& state = state_of(module);
    static constexpr const char* param_names[] = {"source", "opts", "name"};
    PyObject* a[3];
    if (!take_args({"_relayout", param_names, 2, 2}, args, nargs, kwnames, a)) return nullptr;
    if (!argument_type("_relayout", "source", a[0], PyUnicode_Check(a[0]), "str")) return nullptr;
    if (a[2] && !argument_type("_relayout", "name", a[2], PyUnicode_Check(a[2]), "str"))
        return nullptr;
    return guarded(state, [&]() -> PyObject* {
        EmitOptions options;
        if (!read_options(state, a[1], options)) return nullptr;
        Ref shown_name;
        std::optional<std::vector<Document>> documents = load_named(state, a[0], a[2], shown_name);
        if (!documents) return nullptr;
        Source source;
        if (!source_of(a[0], source)) return nullptr;
        const brackle_core::EmitResult result = without_lock([&] {
            return brackle_core::emitter::relayout(std::move(*documents), source.whole, options);
        });
        return text_result(state, result);
    });
}

PyObject* comments(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    State& state = state_of(module);
    static constexpr const char* param_names[] = {"source"};
    PyObject* a[1];
    if (!take_args({"_comments", param_names, 1, 1}, args, nargs, kwnames, a)) return nullptr;
    if (!argument_type("_comments", "source", a[0], PyUnicode_Check(a[0]), "str")) return nullptr;
    return guarded(state, [&]() -> PyObject* {
        Source source;
        if (!source_of(a[0], source)) return nullptr;
        const std::vector<std::string> found =
            without_lock([&] { return brackle_scanner::comments(source.whole); });
        Ref out(PyList_New(static_cast<Py_ssize_t>(found.size())));
        if (!out) return nullptr;
        for (std::size_t i = 0; i < found.size(); ++i) {
            PyObject* text = PyUnicode_FromStringAndSize(found[i].data(),
                                                         static_cast<Py_ssize_t>(found[i].size()));
            if (text == nullptr) return nullptr;
            PyList_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), text);
        }
        return out.release();
    });
}

PyMethodDef functions[] = {
    {"parse", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(parse)),
     METH_FASTCALL | METH_KEYWORDS,
     "parse(source, *, allow_duplicate_keys=True, name=\"<unicode string>\")\n"
     "--\n"
     "\n"
     "Loads every document of `source` into a list of `Doc` records.\n"
     "\n"
     "# Arguments\n"
     "\n"
     "* `source`: the YAML stream. A leading byte-order mark is taken off before scanning and\n"
     "  recorded on the first document, so it comes back on emit.\n"
     "* `allow_duplicate_keys`: accepted for signature compatibility and not acted on here.\n"
     "  Duplicate keys are reported by `brackle.constructor`, whatever this is set to.\n"
     "* `name`: the stream name that appears in the position of any error raised.\n"
     "\n"
     "# Errors\n"
     "\n"
     "Raises the exception `brackle.error` maps the core's [`ErrorKind`] to when `source` is not\n"
     "well-formed YAML, with a `Mark` pointing into `source`."},
    {"emit", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(emit)),
     METH_FASTCALL | METH_KEYWORDS,
     "emit(docs, opts)\n"
     "--\n"
     "\n"
     "Emits `Doc` records as one YAML stream and returns it.\n"
     "\n"
     "# Arguments\n"
     "\n"
     "* `docs`: any iterable of `Doc` records, emitted in order.\n"
     "* `opts`: an `EmitOptions` record.\n"
     "\n"
     "# Errors\n"
     "\n"
     "Raises `ValueError` when a record cannot be read as a document: a mapping with an odd "
     "number\n"
     "of children, a node index past the end of the arena, an alias with no name, an unknown kind\n"
     "or style code, or a `line_break` the emitter does not write. Raises\n"
     "`brackle.error.EmitterError` when the tree itself cannot be emitted. A missing or wrongly\n"
     "typed attribute raises whatever the attribute access does."},
    {"_roundtrip_in_rust", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(roundtrip)),
     METH_FASTCALL | METH_KEYWORDS,
     "_roundtrip_in_rust(source, opts)\n"
     "--\n"
     "\n"
     "Parses and emits `source` inside the core, without ever building a record.\n"
     "\n"
     "This is the reference the record path is measured against, so that a round-trip failure is\n"
     "attributable. If `emit(parse(text))` differs from the source and this does not, the record\n"
     "model dropped something and the bug is at the boundary. If this differs the same way, the\n"
     "emitter and the boundary agree and the defect is upstream of both.\n"
     "\n"
     "# Errors\n"
     "\n"
     "Raises the same exceptions as `parse` and `emit`: a `brackle.error` class for a source that\n"
     "is not well-formed, `brackle.error.EmitterError` for a tree that cannot be emitted, and\n"
     "`ValueError` for an `opts` record the core cannot take."},
};

// Functions of the package's own modules, left out of `__all__`.
PyMethodDef unlisted_functions[] = {
    {"_relayout", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(relayout)),
     METH_FASTCALL | METH_KEYWORDS,
     "_relayout(source, opts, name=None)\n"
     "--\n"
     "\n"
     "The documents of `source` (a str) laid out anew from `opts`, an `EmitOptions` record:\n"
     "every node written from its value, the comments in their order, the blank lines between\n"
     "entries kept up to two in a row; what `brackle.format` checks and returns. Raises the\n"
     "same exceptions as `parse` (with `name` in the message) and `emit`."},
    {"_comments", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(comments)),
     METH_FASTCALL | METH_KEYWORDS,
     "_comments(source)\n"
     "--\n"
     "\n"
     "The comments of `source` (a str) in the order they stand, each from its `#` to the end\n"
     "of its line without the blanks there; those before the first error of a text that is\n"
     "not YAML."},
    {"_iter_load", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(iter_load)),
     METH_FASTCALL | METH_KEYWORDS,
     "_iter_load(source, name=None, allow_duplicate_keys=False, version=None, tags=None,\n"
     "           unknown_tags_fail=False)\n"
     "--\n"
     "\n"
     "An iterator over the data of the documents of `source` (a str, or bytes in UTF-8), read\n"
     "one at a time: what `brackle.iter_load` returns. `version` (None, (1, 1) or (1, 2)) sets\n"
     "the schema of every document; None lets each document's `%YAML` directive decide, the\n"
     "core schema when there is none. `tags` maps tags to functions that make the data of the\n"
     "nodes with that tag from their value; with `unknown_tags_fail`, a tag that has neither a\n"
     "rule nor a function raises a constructor error instead of giving a `Tagged`."},
    {"_edit_open", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(edit_open)),
     METH_FASTCALL | METH_KEYWORDS,
     "_edit_open(source, name=None, allow_duplicate_keys=False)\n"
     "--\n"
     "\n"
     "A tuple (data, starts): each document's data as `brackle.load_all` gives it (no document\n"
     "dropped), and the character index (after a leading byte-order mark) where each document's\n"
     "text begins. The text from one start to the next loads on its own as that document."},
    {"_edit_read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(edit_read)),
     METH_FASTCALL | METH_KEYWORDS,
     "_edit_read(source, name=None, allow_duplicate_keys=False)\n"
     "--\n"
     "\n"
     "For `source`, the text of one document, a tuple (editor, data, objects): the editor\n"
     "that walks its nodes and gives the text of each edit, its data as `brackle.load_all`\n"
     "gives it, and the object of each node (a mapping key's hashable; None for nodes outside\n"
     "the tree). None when the text holds another number of documents than one."},
    {"_dump_all", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(dump_all)),
     METH_FASTCALL | METH_KEYWORDS,
     "_dump_all(documents, opts, represent=None, sort_keys=False)\n"
     "--\n"
     "\n"
     "Writes each item of `documents`, Python data, as one YAML document; the data path of\n"
     "`brackle.dump_all`.\n"
     "\n"
     "`opts` is an `EmitOptions` record. A `Tagged` is written as its `value` with its `tag`;\n"
     "an object whose type (or a base class of it) is a key of the dict `represent` as what\n"
     "that function returns for it. Raises `brackle.RepresenterError` for an object it\n"
     "cannot represent and `brackle.error.EmitterError` for data nested too deep to emit.\n"
     "With `sort_keys`, mappings are written in the order of their keys where they compare."},
    {"_register", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(register_classes)),
     METH_FASTCALL | METH_KEYWORDS,
     "_register(*, Node, Doc, Trivia, make_error, EmitterError, InternalError, Tagged, "
     "FrozenDict, HashedTuple, construct_error, timestamp, binary)\n"
     "--\n"
     "\n"
     "Hands the module the package's record classes, exceptions and helpers, which it calls\n"
     "by these names; the package does so once, when it is imported."},
};

// Interns the attribute names into the module's state.
bool intern_names(Names& names) {
#define BRACKLE_PY_INTERN(name)                                                             \
    {                                                                                       \
        std::string_view text = #name;                                                      \
        if (text.ends_with('_')) text.remove_suffix(1);                                     \
        names.name =                                                                        \
            PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())); \
        if (names.name == nullptr) return false;                                            \
        PyUnicode_InternInPlace(&names.name);                                               \
    }
    BRACKLE_PY_NAMES(BRACKLE_PY_INTERN)
#undef BRACKLE_PY_INTERN
    return true;
}

int traverse_module(PyObject* module, visitproc visit, void* arg) {
    State* state = static_cast<State*>(PyModule_GetState(module));
    if (state == nullptr) return 0;
    for (PyObject* o : state->registered) Py_VISIT(o);
    Py_VISIT(state->node_init);
    Py_VISIT(state->trivia_init);
    Py_VISIT(state->mapping_abc);
    Py_VISIT(state->sequence_abc);
    Py_VISIT(state->document_stream_type);
    Py_VISIT(state->edit_document_type);
    return 0;
}

int clear_module(PyObject* module) {
    State* state = static_cast<State*>(PyModule_GetState(module));
    if (state == nullptr) return 0;
    for (PyObject*& o : state->registered) Py_CLEAR(o);
    Py_CLEAR(state->node_init);
    Py_CLEAR(state->trivia_init);
    Py_CLEAR(state->mapping_abc);
    Py_CLEAR(state->sequence_abc);
    Py_CLEAR(state->document_stream_type);
    Py_CLEAR(state->edit_document_type);
#define BRACKLE_PY_CLEAR(name) Py_CLEAR(state->names.name);
    BRACKLE_PY_NAMES(BRACKLE_PY_CLEAR)
#undef BRACKLE_PY_CLEAR
    return 0;
}

void free_module(void* module) { clear_module(static_cast<PyObject*>(module)); }

int exec_module(PyObject* module) {
    State* state = new (PyModule_GetState(module)) State();
    if (!intern_names(state->names)) return -1;
    Ref abc(PyImport_ImportModule("collections.abc"));
    if (!abc) return -1;
    state->mapping_abc = PyObject_GetAttrString(abc.get(), "Mapping");
    state->sequence_abc = PyObject_GetAttrString(abc.get(), "Sequence");
    if (state->mapping_abc == nullptr || state->sequence_abc == nullptr) return -1;
    if (!add_document_stream_type(module, *state)) return -1;
    if (!add_edit_document_type(module, *state)) return -1;
    Ref all(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        all = Ref(PyList_New(0));
        if (!all || PyModule_AddObjectRef(module, "__all__", all.get()) != 0) return -1;
    }
    Ref module_name(PyModule_GetNameObject(module));
    if (!module_name) return -1;
    for (PyMethodDef& def : functions) {
        Ref function(PyCFunction_NewEx(&def, module, module_name.get()));
        if (!function || PyModule_AddObjectRef(module, def.ml_name, function.get()) != 0) return -1;
        Ref name(PyUnicode_FromString(def.ml_name));
        if (!name || PyList_Append(all.get(), name.get()) != 0) return -1;
    }
    for (PyMethodDef& def : unlisted_functions) {
        Ref function(PyCFunction_NewEx(&def, module, module_name.get()));
        if (!function || PyModule_AddObjectRef(module, def.ml_name, function.get()) != 0) return -1;
    }
    return 0;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_brackle",
    "The extension module `brackle._brackle`: `parse`, `emit` and `_roundtrip_in_rust`.",
    sizeof(State),
    nullptr,
    slots,
    traverse_module,
    clear_module,
    free_module,
};

}  // namespace
}  // namespace brackle_py

PyMODINIT_FUNC PyInit__brackle() { return PyModuleDef_Init(&brackle_py::module_def); }
