// The edit API's view of one document's text (python/brackle/editing.py):
// an object that holds the core's editor and hands out, for each edit, the
// candidate texts of the document. The package reads each back and keeps
// the first that loads to the changed data.
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "brackle/edit.hpp"
#include "python_api.hpp"

namespace brackle_py {

namespace {

using brackle_core::Document;
using brackle_core::NodeIndex;
using brackle_core::edit::Candidates;
using brackle_core::edit::Editor;
using brackle_core::edit::NewValue;

struct EditDocument {
    PyObject_HEAD Editor* editor;
};

const Editor& editor_of(PyObject* self) { return *reinterpret_cast<EditDocument*>(self)->editor; }

State& state_of_type(PyObject* self) {
    return *static_cast<State*>(PyType_GetModuleState(Py_TYPE(self)));
}

// The node `c` of a collection and the position `pos` of one of its
// children (`extra` more: the end, where a child is added); false with
// IndexError set when there is no such child.
bool child_at(const Editor& editor, Py_ssize_t c, Py_ssize_t pos, std::size_t extra) {
    const Document& doc = editor.document();
    if (c < 0 || static_cast<std::size_t>(c) >= doc.nodes.size() ||
        !brackle_core::is_collection(doc.nodes[static_cast<std::size_t>(c)])) {
        PyErr_SetString(PyExc_IndexError, "that node is not a collection");
        return false;
    }
    const std::size_t count = editor.child_count(static_cast<NodeIndex>(c));
    if (pos >= 0 && static_cast<std::size_t>(pos) < count + extra) return true;
    PyErr_SetString(PyExc_IndexError, "no such child");
    return false;
}

// `object` as the new value of an edit: the document the data path makes
// of it, in flow style when it is a `Flow`.
bool new_value(State& state, PyObject* object, NewValue& out) {
    PyObject* flow_type = state.get(Lookup::Flow);
    if (flow_type == nullptr) return false;
    Ref value(Py_NewRef(object));
    const int flow = PyObject_IsInstance(object, flow_type);
    if (flow < 0) return false;
    if (flow) {
        value = Ref(PyObject_GetAttrString(object, "value"));
        if (!value) return false;
    }
    out.flow = flow != 0;
    return represent(state, value.get(), out.document, RepresentOptions{});
}

// The candidates as a list of str, or the package's EditError.
PyObject* candidates_result(State& state, Candidates&& result) {
    if (auto* error = std::get_if<brackle_core::edit::EditError>(&result)) {
        PyObject* edit_error = state.get(Lookup::EditError);
        if (edit_error != nullptr) {
            PyErr_SetObject(edit_error, Ref(PyUnicode_FromStringAndSize(
                                                error->message.data(),
                                                static_cast<Py_ssize_t>(error->message.size())))
                                            .get());
        }
        return nullptr;
    }
    const auto& texts = std::get<std::vector<std::string>>(result);
    Ref out(PyList_New(static_cast<Py_ssize_t>(texts.size())));
    if (!out) return nullptr;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        PyObject* text = str_of(texts[i]);
        if (text == nullptr) return nullptr;
        PyList_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), text);
    }
    return out.release();
}

// The edits and reads, each with the node of a collection and the position
// of one of its children.

PyObject* set_child(PyObject* self, PyObject* args) {
    Py_ssize_t c = 0, pos = 0;
    PyObject* value = nullptr;
    if (!PyArg_ParseTuple(args, "nnO:set_child", &c, &pos, &value)) return nullptr;
    State& state = state_of_type(self);
    const Editor& editor = editor_of(self);
    return guarded(state, [&]() -> PyObject* {
        NewValue v;
        if (!child_at(editor, c, pos, 0) || !new_value(state, value, v)) return nullptr;
        return candidates_result(
            state, editor.set_child(static_cast<NodeIndex>(c), static_cast<std::size_t>(pos), v));
    });
}

PyObject* insert_entry(PyObject* self, PyObject* args) {
    Py_ssize_t c = 0, pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    if (!PyArg_ParseTuple(args, "nnOO:insert_entry", &c, &pos, &key, &value)) return nullptr;
    State& state = state_of_type(self);
    const Editor& editor = editor_of(self);
    return guarded(state, [&]() -> PyObject* {
        NewValue v;
        NewValue k;
        if (!child_at(editor, c, pos, 1) || !new_value(state, value, v) ||
            !new_value(state, key, k)) {
            return nullptr;
        }
        return candidates_result(
            state, editor.insert_child(static_cast<NodeIndex>(c), static_cast<std::size_t>(pos), v,
                                       &k.document));
    });
}

PyObject* insert_item(PyObject* self, PyObject* args) {
    Py_ssize_t c = 0, pos = 0;
    PyObject* value = nullptr;
    if (!PyArg_ParseTuple(args, "nnO:insert_item", &c, &pos, &value)) return nullptr;
    State& state = state_of_type(self);
    const Editor& editor = editor_of(self);
    return guarded(state, [&]() -> PyObject* {
        NewValue v;
        if (!child_at(editor, c, pos, 1) || !new_value(state, value, v)) return nullptr;
        return candidates_result(
            state, editor.insert_child(static_cast<NodeIndex>(c), static_cast<std::size_t>(pos), v,
                                       nullptr));
    });
}

PyObject* delete_child(PyObject* self, PyObject* args) {
    Py_ssize_t c = 0, pos = 0;
    if (!PyArg_ParseTuple(args, "nn:delete_child", &c, &pos)) return nullptr;
    State& state = state_of_type(self);
    const Editor& editor = editor_of(self);
    return guarded(state, [&]() -> PyObject* {
        if (!child_at(editor, c, pos, 0)) return nullptr;
        return candidates_result(
            state, editor.delete_child(static_cast<NodeIndex>(c), static_cast<std::size_t>(pos)));
    });
}

PyObject* replace_root(PyObject* self, PyObject* args) {
    PyObject* value = nullptr;
    int last = 0;
    if (!PyArg_ParseTuple(args, "Op:replace_root", &value, &last)) return nullptr;
    State& state = state_of_type(self);
    const Editor& editor = editor_of(self);
    return guarded(state, [&]() -> PyObject* {
        NewValue v;
        if (!new_value(state, value, v)) return nullptr;
        return candidates_result(state, editor.replace_root(v, last != 0));
    });
}

PyObject* eol_comment(PyObject* self, PyObject* args) {
    Py_ssize_t c = 0, pos = 0;
    if (!PyArg_ParseTuple(args, "nn:eol_comment", &c, &pos)) return nullptr;
    const Editor& editor = editor_of(self);
    return guarded(state_of_type(self), [&]() -> PyObject* {
        if (!child_at(editor, c, pos, 0)) return nullptr;
        const std::optional<std::string> text =
            editor.eol_comment(static_cast<NodeIndex>(c), static_cast<std::size_t>(pos));
        return text ? str_of(*text) : Py_NewRef(Py_None);
    });
}

PyObject* comments_before(PyObject* self, PyObject* args) {
    Py_ssize_t c = 0, pos = 0;
    if (!PyArg_ParseTuple(args, "nn:comments_before", &c, &pos)) return nullptr;
    const Editor& editor = editor_of(self);
    return guarded(state_of_type(self), [&]() -> PyObject* {
        if (!child_at(editor, c, pos, 0)) return nullptr;
        const std::vector<std::string> texts =
            editor.comments_before(static_cast<NodeIndex>(c), static_cast<std::size_t>(pos));
        Ref out(PyList_New(static_cast<Py_ssize_t>(texts.size())));
        if (!out) return nullptr;
        for (std::size_t i = 0; i < texts.size(); ++i) {
            PyObject* text = str_of(texts[i]);
            if (text == nullptr) return nullptr;
            PyList_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), text);
        }
        return out.release();
    });
}

// A str argument's UTF-8; false with TypeError set for anything else.
bool utf8_arg(PyObject* object, std::string& out) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_Check(object) ? PyUnicode_AsUTF8AndSize(object, &size) : nullptr;
    if (data == nullptr) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "a comment must be a str");
        return false;
    }
    out.assign(data, static_cast<std::size_t>(size));
    return true;
}

PyObject* set_eol_comment(PyObject* self, PyObject* args) {
    Py_ssize_t c = 0, pos = 0;
    PyObject* text = nullptr;
    if (!PyArg_ParseTuple(args, "nnO:set_eol_comment", &c, &pos, &text)) return nullptr;
    State& state = state_of_type(self);
    const Editor& editor = editor_of(self);
    return guarded(state, [&]() -> PyObject* {
        std::optional<std::string> comment;
        if (text != Py_None && !utf8_arg(text, comment.emplace())) return nullptr;
        if (!child_at(editor, c, pos, 0)) return nullptr;
        return candidates_result(
            state, editor.set_eol_comment(static_cast<NodeIndex>(c), static_cast<std::size_t>(pos),
                                          comment));
    });
}

PyObject* set_comments_before(PyObject* self, PyObject* args) {
    Py_ssize_t c = 0, pos = 0;
    PyObject* texts = nullptr;
    if (!PyArg_ParseTuple(args, "nnO!:set_comments_before", &c, &pos, &PyList_Type, &texts)) {
        return nullptr;
    }
    State& state = state_of_type(self);
    const Editor& editor = editor_of(self);
    return guarded(state, [&]() -> PyObject* {
        std::vector<std::string> lines(static_cast<std::size_t>(PyList_GET_SIZE(texts)));
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (!utf8_arg(PyList_GET_ITEM(texts, static_cast<Py_ssize_t>(i)), lines[i])) {
                return nullptr;
            }
        }
        if (!child_at(editor, c, pos, 0)) return nullptr;
        return candidates_result(state,
                                 editor.set_comments_before(static_cast<NodeIndex>(c),
                                                            static_cast<std::size_t>(pos), lines));
    });
}

PyObject* child_lines(PyObject* self, PyObject* args) {
    Py_ssize_t c = 0, pos = 0;
    if (!PyArg_ParseTuple(args, "nn:child_lines", &c, &pos)) return nullptr;
    const Editor& editor = editor_of(self);
    return guarded(state_of_type(self), [&]() -> PyObject* {
        if (!child_at(editor, c, pos, 0)) return nullptr;
        const auto lines =
            editor.child_lines(static_cast<NodeIndex>(c), static_cast<std::size_t>(pos));
        const std::uint32_t mark =
            editor.value_mark_line(static_cast<NodeIndex>(c), static_cast<std::size_t>(pos));
        return Py_BuildValue("(IIIIO)", lines.comments, lines.first, lines.last, mark,
                             lines.shares_line ? Py_True : Py_False);
    });
}

PyObject* last_line(PyObject* self, PyObject* args) {
    Py_ssize_t i = 0;
    if (!PyArg_ParseTuple(args, "n:last_line", &i)) return nullptr;
    const Editor& editor = editor_of(self);
    if (i < 0 || static_cast<std::size_t>(i) >= editor.document().nodes.size()) {
        PyErr_SetString(PyExc_IndexError, "no such node");
        return nullptr;
    }
    return PyLong_FromUnsignedLong(editor.last_line(static_cast<NodeIndex>(i)));
}

// ---- the document's nodes, as the views walk them ------------------------------

// Node `i` (from a Python int), or IndexError.
bool node_at(const Editor& editor, PyObject* arg, NodeIndex& out) {
    const Py_ssize_t i = PyLong_AsSsize_t(arg);
    if (i == -1 && PyErr_Occurred()) return false;
    if (i < 0 || static_cast<std::size_t>(i) >= editor.document().nodes.size()) {
        PyErr_SetString(PyExc_IndexError, "no such node");
        return false;
    }
    out = static_cast<NodeIndex>(i);
    return true;
}

PyObject* index_list(const std::vector<NodeIndex>& indexes) {
    Ref out(PyList_New(static_cast<Py_ssize_t>(indexes.size())));
    if (!out) return nullptr;
    for (std::size_t j = 0; j < indexes.size(); ++j) {
        PyObject* at = PyLong_FromUnsignedLong(indexes[j]);
        if (at == nullptr) return nullptr;
        PyList_SET_ITEM(out.get(), static_cast<Py_ssize_t>(j), at);
    }
    return out.release();
}

PyObject* root(PyObject* self, PyObject*) {
    const auto& r = editor_of(self).document().root;
    return r ? PyLong_FromUnsignedLong(*r) : Py_NewRef(Py_None);
}

PyObject* explicit_end(PyObject* self, PyObject*) {
    return PyBool_FromLong(editor_of(self).document().explicit_end);
}

// (kind, flow, anchor): the kind code of records, whether it is written in
// flow style, and the anchor it declares (an alias: the one it names).
PyObject* node_info(PyObject* self, PyObject* arg) {
    const Editor& editor = editor_of(self);
    NodeIndex i = 0;
    if (!node_at(editor, arg, i)) return nullptr;
    const brackle_core::Node& n = editor.document().nodes[i];
    const auto* alias = std::get_if<brackle_core::kind::Alias>(&n.kind);
    const std::optional<std::string>& anchor = n.extras.get().anchor;
    Ref name(alias ? str_of(alias->name) : anchor ? str_of(*anchor) : Py_NewRef(Py_None));
    if (!name) return nullptr;
    return Py_BuildValue("(nOO)", static_cast<Py_ssize_t>(n.kind.index()),
                         n.style == brackle_core::NodeStyle::Flow ? Py_True : Py_False, name.get());
}

PyObject* children(PyObject* self, PyObject* arg) {
    const Editor& editor = editor_of(self);
    NodeIndex i = 0;
    if (!node_at(editor, arg, i)) return nullptr;
    return guarded(state_of_type(self),
                   [&] { return index_list(editor.document().nodes[i].children()); });
}

// The positions in `children(i)` of a mapping's merge keys.
PyObject* merges(PyObject* self, PyObject* arg) {
    const Editor& editor = editor_of(self);
    NodeIndex i = 0;
    if (!node_at(editor, arg, i)) return nullptr;
    return guarded(state_of_type(self), [&]() -> PyObject* {
        std::vector<NodeIndex> out;
        if (const auto* map =
                std::get_if<brackle_core::kind::Mapping>(&editor.document().nodes[i].kind)) {
            for (std::size_t e = 0; e < map->entries.size(); ++e) {
                if (map->entries[e].merge) out.push_back(static_cast<NodeIndex>(2 * e));
            }
        }
        return index_list(out);
    });
}

// How many children node `i` has (a mapping's: its entries).
PyObject* count(PyObject* self, PyObject* arg) {
    const Editor& editor = editor_of(self);
    NodeIndex i = 0;
    if (!node_at(editor, arg, i)) return nullptr;
    return PyLong_FromSize_t(editor.child_count(i));
}

// A mapping's entries as (position, key node, value node), merge keys left
// out.
PyObject* entries(PyObject* self, PyObject* arg) {
    const Editor& editor = editor_of(self);
    NodeIndex i = 0;
    if (!node_at(editor, arg, i)) return nullptr;
    Ref out(PyList_New(0));
    const auto* map = std::get_if<brackle_core::kind::Mapping>(&editor.document().nodes[i].kind);
    if (!out || map == nullptr) return out.release();
    for (std::size_t e = 0; e < map->entries.size(); ++e) {
        const brackle_core::Entry& entry = map->entries[e];
        if (entry.merge) continue;
        Ref item(Py_BuildValue("(nII)", static_cast<Py_ssize_t>(e), entry.key, entry.value));
        if (!item || PyList_Append(out.get(), item.get()) < 0) return nullptr;
    }
    return out.release();
}

PyObject* deref(PyObject* self, PyObject* arg) {
    const Editor& editor = editor_of(self);
    NodeIndex i = 0;
    if (!node_at(editor, arg, i)) return nullptr;
    if (const auto target = editor.deref(i)) return PyLong_FromUnsignedLong(*target);
    return Py_NewRef(Py_None);
}

PyObject* aliased(PyObject* self, PyObject*) {
    return guarded(state_of_type(self), [&] { return index_list(editor_of(self).aliased()); });
}

PyObject* anchors_used_outside(PyObject* self, PyObject* arg) {
    const Editor& editor = editor_of(self);
    NodeIndex i = 0;
    if (!node_at(editor, arg, i)) return nullptr;
    return guarded(state_of_type(self), [&]() -> PyObject* {
        const std::vector<std::string> names = editor.anchors_used_outside(i);
        Ref out(PyList_New(static_cast<Py_ssize_t>(names.size())));
        if (!out) return nullptr;
        for (std::size_t j = 0; j < names.size(); ++j) {
            PyObject* name = str_of(names[j]);
            if (name == nullptr) return nullptr;
            PyList_SET_ITEM(out.get(), static_cast<Py_ssize_t>(j), name);
        }
        return out.release();
    });
}

PyMethodDef methods[] = {
    {"set_child", set_child, METH_VARARGS,
     "set_child(c, pos, value)\n--\n\nTexts with child `pos` of collection `c` set to `value`."},
    {"insert_entry", insert_entry, METH_VARARGS,
     "insert_entry(c, pos, key, value)\n--\n\nTexts with `key: value` added before entry `pos`."},
    {"insert_item", insert_item, METH_VARARGS,
     "insert_item(c, pos, value)\n--\n\nTexts with `value` added before item `pos`."},
    {"delete_child", delete_child, METH_VARARGS,
     "delete_child(c, pos)\n--\n\nTexts with child `pos` of collection `c` taken out."},
    {"replace_root", replace_root, METH_VARARGS,
     "replace_root(value, last)\n--\n\nTexts with the root replaced by `value`."},
    {"eol_comment", eol_comment, METH_VARARGS,
     "eol_comment(c, pos)\n--\n\nThe comment at the end of a child's first line, or None."},
    {"comments_before", comments_before, METH_VARARGS,
     "comments_before(c, pos)\n--\n\nThe comment lines just above a child."},
    {"set_eol_comment", set_eol_comment, METH_VARARGS,
     "set_eol_comment(c, pos, text)\n--\n\nTexts with a child's end-of-line comment set."},
    {"set_comments_before", set_comments_before, METH_VARARGS,
     "set_comments_before(c, pos, texts)\n--\n\nTexts with a child's comment lines set."},
    {"child_lines", child_lines, METH_VARARGS,
     "child_lines(c, pos)\n--\n\n(first comment line, first line, last line, line of the value's\n"
     "`:` or `-`, whether it shares its first line), lines counted from 0."},
    {"last_line", last_line, METH_VARARGS,
     "last_line(i)\n--\n\nThe last line of node `i`'s text, counted from 0."},
    {"root", root, METH_NOARGS, "root()\n--\n\nThe root's node, or None."},
    {"explicit_end", explicit_end, METH_NOARGS,
     "explicit_end()\n--\n\nWhether the document ends with `...`."},
    {"node", node_info, METH_O,
     "node(i)\n--\n\n(kind, flow, anchor) of node `i`: its kind code, whether it is written in\n"
     "flow style, the anchor it declares (an alias's: the one it names)."},
    {"children", children, METH_O,
     "children(i)\n--\n\nNode `i`'s children; a mapping gives each key followed by its value."},
    {"count", count, METH_O,
     "count(i)\n--\n\nHow many children node `i` has (a mapping's: its entries)."},
    {"entries", entries, METH_O,
     "entries(i)\n--\n\nA mapping's entries as (position, key node, value node), merge keys\n"
     "left out."},
    {"merges", merges, METH_O,
     "merges(i)\n--\n\nThe positions in children(i) of a mapping's merge keys (`<<`)."},
    {"deref", deref, METH_O,
     "deref(i)\n--\n\nThe node alias `i` refers to (`i` for other nodes); None when its anchor\n"
     "is declared nowhere before it."},
    {"aliased", aliased, METH_NOARGS, "aliased()\n--\n\nThe nodes the aliases refer to."},
    {"anchors_used_outside", anchors_used_outside, METH_O,
     "anchors_used_outside(i)\n--\n\nThe anchors of node `i`'s subtree that aliases outside it "
     "use."},
    {nullptr, nullptr, 0, nullptr},
};

void dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete reinterpret_cast<EditDocument*>(self)->editor;
    type->tp_free(self);
    Py_DECREF(type);
}

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("One document's text, read for editing in place.")},
    {Py_tp_methods, methods},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {0, nullptr},
};

PyType_Spec spec = {
    "brackle._brackle.EditDocument",
    sizeof(EditDocument),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    slots,
};

}  // namespace

bool add_edit_document_type(PyObject* module, State& state) {
    state.edit_document_type = PyType_FromModuleAndSpec(module, &spec, nullptr);
    return state.edit_document_type != nullptr;
}

PyObject* new_edit_document(State& state, Editor&& editor) {
    auto held = std::make_unique<Editor>(std::move(editor));
    auto* type = reinterpret_cast<PyTypeObject*>(state.edit_document_type);
    auto* self = PyObject_New(EditDocument, type);
    if (self == nullptr) return nullptr;
    self->editor = held.release();
    return reinterpret_cast<PyObject*>(self);
}

}  // namespace brackle_py
