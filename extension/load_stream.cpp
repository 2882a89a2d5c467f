// The data of a stream one document at a time: the iterator `_iter_load`
// returns reads the next document only when asked, builds its data and lets
// the document go, so that a stream of any length is held one document at a
// time, besides its text.
#include <memory>
#include <optional>
#include <utility>

#include "python_api.hpp"

namespace brackle_py {

namespace {

using brackle_core::Document;

// What an iterator holds besides its object header.
struct Stream {
    Ref source;  // the str or bytes whose UTF-8 the reader reads
    Ref name;
    Ref tags;  // a dict, or null
    DataOptions options;
    TextCache texts;                                       // shared by the stream's documents
    std::unique_ptr<brackle_core::loader::Reader> reader;  // null once finished
    bool started = false;
    bool reading = false;  // a `next` is under way, without the interpreter lock
};

struct DocumentStream {
    PyObject_HEAD Stream* stream;
};

Stream& stream_of(PyObject* self) { return *reinterpret_cast<DocumentStream*>(self)->stream; }

// Ends the iteration: the reader and the text go at once.
void finish(Stream& s) {
    s.reader.reset();
    s.source = Ref();
}

// The next document's data; null without an exception at the stream's end.
PyObject* next_document(PyObject* self) {
    Stream& s = stream_of(self);
    if (!s.reader) return nullptr;
    if (s.reading) {
        PyErr_SetString(PyExc_RuntimeError, "another thread is reading this stream's documents");
        return nullptr;
    }
    State& state = *static_cast<State*>(PyType_GetModuleState(Py_TYPE(self)));
    return guarded(state, [&]() -> PyObject* {
        s.reading = true;
        struct Done {
            bool& reading;
            ~Done() { reading = false; }
        } done{s.reading};
        brackle_core::loader::Reader& reader = *s.reader;
        const bool first = !s.started;
        s.started = true;
        std::optional<Document> document;
        bool only = false;
        without_lock([&] {
            document = reader.next();
            // A stream of only comments and blank lines holds no data.
            only = first && document && holds_no_data(*document) && reader.at_end();
            return 0;
        });
        if (!document || only) {
            if (const auto& e = reader.error()) {
                Source source;
                Py_ssize_t size = 0;
                const char* name = PyUnicode_AsUTF8AndSize(s.name.get(), &size);
                if (name != nullptr && source_of(s.source.get(), source)) {
                    raise_parse_error(state, *e, source.text,
                                      std::string_view(name, static_cast<std::size_t>(size)));
                }
            }
            finish(s);
            return nullptr;
        }
        Ref data = build_document_data(state, *document, s.options);
        if (!data) finish(s);
        return data.release();
    });
}

int traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    if (Stream* s = reinterpret_cast<DocumentStream*>(self)->stream) Py_VISIT(s->tags.get());
    return 0;
}

int clear(PyObject* self) {
    if (Stream* s = reinterpret_cast<DocumentStream*>(self)->stream) s->tags = Ref();
    return 0;
}

void dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    PyTypeObject* type = Py_TYPE(self);
    delete reinterpret_cast<DocumentStream*>(self)->stream;
    type->tp_free(self);
    Py_DECREF(type);
}

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("The data of a stream's documents, one at a time.")},
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(next_document)},
    {Py_tp_traverse, reinterpret_cast<void*>(traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(clear)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {0, nullptr},
};

PyType_Spec spec = {
    "brackle._brackle.DocumentStream",
    sizeof(DocumentStream),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    slots,
};

}  // namespace

bool add_document_stream_type(PyObject* module, State& state) {
    state.document_stream_type = PyType_FromModuleAndSpec(module, &spec, nullptr);
    return state.document_stream_type != nullptr;
}

PyObject* new_document_stream(State& state, PyObject* source, PyObject* name,
                              const DataOptions& options) {
    Source text;
    if (!source_of(source, text)) return nullptr;
    auto stream = std::make_unique<Stream>();
    stream->source = Ref(Py_NewRef(source));
    stream->name = Ref(name ? Py_NewRef(name)
                            : PyUnicode_FromStringAndSize(no_name.data(),
                                                          static_cast<Py_ssize_t>(no_name.size())));
    if (!stream->name) return nullptr;
    if (options.tags) stream->tags = Ref(Py_NewRef(options.tags));
    stream->options = options;
    stream->options.source = source;
    stream->options.name = stream->name.get();
    stream->options.tags = stream->tags.get();
    stream->options.texts = &stream->texts;
    // The reader's set-up reads the whole text once (its lines, its line
    // breaks): without the lock, as every read of the core is.
    stream->reader =
        without_lock([&] { return std::make_unique<brackle_core::loader::Reader>(text.whole); });
    auto* type = reinterpret_cast<PyTypeObject*>(state.document_stream_type);
    auto* self = PyObject_GC_New(DocumentStream, type);
    if (self == nullptr) return nullptr;
    self->stream = stream.release();
    PyObject_GC_Track(self);
    return reinterpret_cast<PyObject*>(self);
}

}  // namespace brackle_py
