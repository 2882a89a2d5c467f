// Building records from documents: each Document becomes a `Doc` record,
// each Node a `Node` record and each comment or run of blank lines a
// `Trivia` record, each from its fields in the order of the class's
// parameters (see `RecordMaker`).
#include <array>
#include <utility>

#include "python_api.hpp"

namespace brackle_py {

namespace {

using brackle_core::Document;
using brackle_core::Node;
using brackle_core::Position;
using brackle_core::Trivia;

Ref str(std::string_view s) {
    return Ref(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
}
Ref integer(unsigned long long v) { return Ref(PyLong_FromUnsignedLongLong(v)); }
Ref boolean(bool b) { return Ref(PyBool_FromLong(b)); }
Ref none() { return Ref(Py_NewRef(Py_None)); }

Ref optional_str(const std::optional<std::string>& s) { return s ? str(*s) : none(); }
Ref optional_str(const brackle_core::ScalarText& s) { return s ? str(*s) : none(); }

// A tuple of the given items; null (and an exception) when any is null.
template <class... Items>
Ref tuple(Items&&... items) {
    Ref refs[] = {std::move(items)...};
    for (const Ref& r : refs) {
        if (!r) return Ref();
    }
    Ref t(PyTuple_New(sizeof...(Items)));
    if (!t) return t;
    for (Py_ssize_t i = 0; i < static_cast<Py_ssize_t>(sizeof...(Items)); ++i) {
        PyTuple_SET_ITEM(t.get(), i, refs[i].release());
    }
    return t;
}

Ref position(const std::optional<Position>& p) {
    return p ? tuple(integer(p->line), integer(p->col)) : none();
}

// A list of `count` items made by `make(i)`.
template <class Make>
Ref list(std::size_t count, Make&& make) {
    Ref l(PyList_New(static_cast<Py_ssize_t>(count)));
    if (!l) return l;
    for (std::size_t i = 0; i < count; ++i) {
        Ref item = make(i);
        if (!item) return Ref();
        PyList_SET_ITEM(l.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return l;
}

// Makes records of a class whose `__init__` stores its N arguments, in
// order, in the attributes of the same names: allocated and filled in place
// when the class has a slot table and still the `__init__` it was
// registered with, else by a call, so that `__init__` does not run once per
// node.
template <std::size_t N>
class RecordMaker {
public:
    bool ready(PyObject* cls, const std::array<PyObject*, N>& names, PyObject* registered_init) {
        cls_ = cls;
        Ref init(PyObject_GetAttrString(cls, "__init__"));
        if (!init) return false;
        if (init.get() != registered_init) return true;
        return slots_.read(cls, names);
    }

    Ref make(Ref (&args)[N]) {
        PyTypeObject* type = slots_.type();
        if (type == nullptr) return call(cls_, args);
        for (const Ref& r : args) {
            if (!r) return Ref();
        }
        Ref record(type->tp_alloc(type, 0));
        if (!record) return record;
        for (std::size_t i = 0; i < N; ++i) slots_.slot(record.get(), i) = args[i].release();
        return record;
    }

private:
    PyObject* cls_ = nullptr;
    SlotTable<N> slots_;
};

class Builder {
public:
    bool ready(State& state) {
        PyObject* node = state.get(Lookup::Node);
        doc_ = node ? state.get(Lookup::Doc) : nullptr;
        PyObject* trivia = doc_ ? state.get(Lookup::Trivia) : nullptr;
        names_ = &state.names;
        return trivia != nullptr && node_.ready(node, node_fields(state.names), state.node_init) &&
               trivia_.ready(trivia, trivia_fields(state.names), state.trivia_init);
    }

    Ref trivia(const Trivia& t) {
        if (const auto* blank = std::get_if<brackle_core::Blank>(&t)) {
            Ref args[] = {none(), boolean(true), integer(0), integer(blank->blank_lines)};
            return trivia_.make(args);
        }
        const auto& c = std::get<brackle_core::Comment>(t);
        Ref args[] = {str(c.text), boolean(c.own_line), integer(c.col), integer(0)};
        return trivia_.make(args);
    }

    Ref trivia_list(const std::vector<Trivia>& items) {
        return list(items.size(), [&](std::size_t i) { return trivia(items[i]); });
    }

    Ref node(const Node& n) {
        const brackle_core::NodeExtras& extras = n.extras.get();
        const brackle_core::Trivia4& slots = n.trivia.get();
        const auto* mapping = std::get_if<brackle_core::kind::Mapping>(&n.kind);
        const auto* sequence = std::get_if<brackle_core::kind::Sequence>(&n.kind);
        const auto* alias = std::get_if<brackle_core::kind::Alias>(&n.kind);

        Ref children;
        if (sequence) {
            children = list(sequence->items.size(),
                            [&](std::size_t i) { return integer(sequence->items[i]); });
        } else if (mapping) {
            children = list(mapping->entries.size() * 2, [&](std::size_t i) {
                const auto& e = mapping->entries[i / 2];
                return integer(i % 2 == 0 ? e.key : e.value);
            });
        } else {
            children = Ref(PyList_New(0));
        }
        // Positions of the keys of the entries whose flag is set.
        auto flagged = [&](bool brackle_core::Entry::*flag) {
            Ref l(PyList_New(0));
            if (!l || !mapping) return l;
            for (std::size_t i = 0; i < mapping->entries.size(); ++i) {
                if (!(mapping->entries[i].*flag)) continue;
                Ref key = integer(2 * i);
                if (!key || PyList_Append(l.get(), key.get()) != 0) return Ref();
            }
            return l;
        };
        Ref colon;
        bool any_colon = false;
        if (mapping) {
            for (const auto& e : mapping->entries) any_colon = any_colon || e.colon.has_value();
        }
        if (any_colon) {
            colon = list(mapping->entries.size(),
                         [&](std::size_t i) { return position(mapping->entries[i].colon); });
        } else {
            colon = Ref(PyList_New(0));
        }

        // A plain scalar's raw text is mostly its value: one str serves both.
        Ref value = optional_str(n.value());
        Ref raw = n.raw() && n.value() && *n.raw() == *n.value() && value
                      ? Ref(Py_NewRef(value.get()))
                      : optional_str(n.raw());
        Ref args[] = {
            integer(n.kind.index()),
            integer(static_cast<unsigned>(n.style)),
            alias ? str(alias->name) : optional_str(extras.anchor),
            extras.tag
                ? tuple(str(extras.tag->handle), str(extras.tag->suffix), str(extras.tag->full))
                : none(),
            std::move(value),
            std::move(raw),
            integer(n.line),
            integer(n.col),
            std::move(children),
            flagged(&brackle_core::Entry::merge),
            flagged(&brackle_core::Entry::explicit_key),
            trivia_list(slots.before),
            slots.eol ? trivia(*slots.eol) : none(),
            trivia_list(slots.inner),
            trivia_list(slots.after),
            boolean(n.tag_first),
            list(extras.flow_seps.size(), [&](std::size_t i) { return str(extras.flow_seps[i]); }),
            position(extras.anchor_at),
            position(extras.tag_at),
            position(extras.header_at),
            std::move(colon),
        };
        return node_.make(args);
    }

    Ref doc(const Document& d) {
        Ref nodes = list(d.nodes.size(), [&](std::size_t i) { return node(d.nodes[i]); });
        if (!nodes) return nodes;
        Ref line_space(PyDict_New());
        if (!line_space) return line_space;
        for (const auto& [number, text] : d.line_space) {
            Ref key = integer(number);
            Ref value = str(text);
            if (!key || !value || PyDict_SetItem(line_space.get(), key.get(), value.get()) != 0) {
                return Ref();
            }
        }
        Ref args[] = {
            d.version ? tuple(integer(d.version->first), integer(d.version->second)) : none(),
            list(d.tag_directives.size(),
                 [&](std::size_t i) {
                     return tuple(str(d.tag_directives[i].handle), str(d.tag_directives[i].prefix));
                 }),
            boolean(d.explicit_start),
            boolean(d.explicit_end),
            d.root ? integer(*d.root) : none(),
            std::move(nodes),
            trivia_list(d.leading),
            trivia_list(d.trailing),
            boolean(d.bom),
            boolean(d.final_line_break),
            integer(d.tags_before_version),
            d.directives_raw
                ? tuple(str(d.directives_raw->first), integer(d.directives_raw->second))
                : none(),
            str(d.stream_tail),
            std::move(line_space),
        };
        Ref doc = call(doc_, args);
        // Set only when known, after the 14 arguments every `Doc` class
        // takes; a class that cannot hold them leaves the line breaks to the
        // emitter's own choice.
        if (doc && d.line_break != brackle_core::LineBreak::Unknown &&
            !set_extra(doc.get(), names_->line_break, break_text(d.line_break))) {
            return Ref();
        }
        if (doc && !d.other_line_breaks.empty()) {
            Ref others(PyDict_New());
            if (!others) return Ref();
            for (const auto& [line, brk] : d.other_line_breaks) {
                Ref number = integer(line);
                PyObject* text = break_text(brk);
                if (!number || !text || PyDict_SetItem(others.get(), number.get(), text) != 0) {
                    return Ref();
                }
            }
            if (!set_extra(doc.get(), names_->other_line_breaks, others.get())) return Ref();
        }
        return doc;
    }

private:
    // Sets an attribute that not every record class has; false with an
    // exception set on any failure but a missing attribute.
    static bool set_extra(PyObject* record, PyObject* name, PyObject* value) {
        if (PyObject_SetAttr(record, name, value) == 0) return true;
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        PyErr_Clear();
        return true;
    }

    // The text of a known line break (borrowed), made once per call; null
    // with an exception set when it cannot be made.
    PyObject* break_text(brackle_core::LineBreak brk) {
        static constexpr const char* kTexts[3] = {"\n", "\r\n", "\r"};
        const auto which = static_cast<std::size_t>(brk) - 1;
        if (!line_breaks_[which]) line_breaks_[which] = Ref(PyUnicode_FromString(kTexts[which]));
        return line_breaks_[which].get();
    }

    Ref line_breaks_[3];
    RecordMaker<node_field_count> node_;
    RecordMaker<trivia_field_count> trivia_;
    PyObject* doc_ = nullptr;
    const Names* names_ = nullptr;
};

}  // namespace

Ref build_records(State& state, brackle_core::loader::Reader& reader) {
    Builder builder;
    if (!builder.ready(state)) return Ref();
    Ref out(PyList_New(0));
    if (!out) return out;
    for (;;) {
        std::optional<Document> doc = without_lock([&] { return reader.next(); });
        if (!doc) break;
        const CollectorPause pause(state);
        Ref record = builder.doc(*doc);
        if (!record || PyList_Append(out.get(), record.get()) < 0) return Ref();
    }
    if (reader.error()) return Ref();
    return out;
}

}  // namespace brackle_py
