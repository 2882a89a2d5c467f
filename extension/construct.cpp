// Documents to plain Python data: scalars resolved by the schema (the core
// schema, or the 1.1 rules), explicit tags, aliases as the same object,
// merge keys, collection keys frozen, duplicate keys reported.
//
// The tree is walked with an explicit stack in document order. A collection's
// object is made when the walk enters it, so that an alias inside it (a
// recursive structure) gets the same object, and filled when the walk leaves
// it, from its children's objects.
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "brackle/event.hpp"
#include "brackle/schema.hpp"
#include "python_api.hpp"

namespace brackle_py {

namespace {

using brackle_core::Document;
using brackle_core::Entry;
using brackle_core::Node;
using brackle_core::NodeIndex;
using brackle_core::NodeStyle;
namespace kind = brackle_core::kind;

constexpr std::string_view tag_prefix = brackle_scanner::standard_tag_prefix;

namespace schema = brackle_core::schema;

schema::Version version_of(bool v11) {
    return v11 ? schema::Version::Yaml11 : schema::Version::Core12;
}

struct Builder {
    State& state;
    PyObject* source;  // for error messages
    PyObject* name;
    bool allow_duplicate_keys;
    PyObject* tags = nullptr;  // the caller's functions by tag (a dict), or null
    bool unknown_tags_fail = false;
    TextCache* texts = nullptr;  // the call's shared short texts, or null
    PyObject* tagged_class = nullptr;
    PyObject* frozen_class = nullptr;
    PyObject* hashed_tuple_class = nullptr;
    std::string buffer{};  // the text of a long integer, reused
    // The containers of the collections being built: one used as a key of
    // itself or of what it holds is a recursive structure.
    std::unordered_set<PyObject*> unfinished{};
    // Each container frozen in this document, and its frozen form: a
    // container that aliases share is frozen once, and its form shared, so
    // that keys built from aliases take time and memory in proportion to
    // the text, not to the data they stand for.
    std::unordered_map<PyObject*, std::pair<Ref, Ref>> frozen{};

    // Looks up the package's classes; false with an exception set.
    bool ready() {
        tagged_class = state.get(Lookup::Tagged);
        frozen_class = tagged_class ? state.get(Lookup::FrozenDict) : nullptr;
        hashed_tuple_class = frozen_class ? state.get(Lookup::HashedTuple) : nullptr;
        return hashed_tuple_class != nullptr;
    }

    // ---- errors ------------------------------------------------------------

    // Raises the package's constructor error at `node` (and, for a duplicate
    // key, the key and where it was first seen).
    void fail(std::string_view message, const Node& node, PyObject* key = nullptr,
              const Node* first = nullptr) {
        PyObject* factory = state.get(Lookup::construct_error);
        if (factory == nullptr) return;
        // Keep an error raised while building (a TypeError of an unhashable
        // key) as the cause's text.
        Ref args[] = {
            Ref(PyUnicode_FromStringAndSize(message.data(),
                                            static_cast<Py_ssize_t>(message.size()))),
            Ref(PyLong_FromUnsignedLong(node.line)),
            Ref(PyLong_FromUnsignedLong(node.col)),
            Ref(Py_NewRef(source)),
            Ref(Py_NewRef(name)),
            Ref(Py_NewRef(key ? key : Py_None)),
            first ? Ref(PyLong_FromUnsignedLong(first->line)) : Ref(Py_NewRef(Py_None)),
            first ? Ref(PyLong_FromUnsignedLong(first->col)) : Ref(Py_NewRef(Py_None)),
        };
        raise_made(call(factory, args).get());
    }

    // ---- scalars -----------------------------------------------------------

    PyObject* str(std::string_view s) { return texts ? texts->str(s) : str_of(s); }

    // A Python int of an integer as the schema reads it.
    PyObject* integer(const schema::Integer& n) {
        if (!n.sexagesimal.empty()) return sexagesimal(n);
        if (n.radix == 10 && n.digits.size() <= 18) {
            long long v = 0;
            for (const char c : n.digits) v = v * 10 + (c - '0');
            return PyLong_FromLongLong(n.negative ? -v : v);
        }
        buffer.assign(n.negative ? "-" : "");
        buffer += n.digits;
        return PyLong_FromString(buffer.c_str(), nullptr, n.radix);
    }

    // A sexagesimal integer (`190:20:30`): its parts are Python ints, so that
    // no size overflows.
    PyObject* sexagesimal(const schema::Integer& n) {
        Ref whole(PyLong_FromLong(0));
        Ref sixty(PyLong_FromLong(60));
        if (!whole || !sixty) return nullptr;
        for (const std::string& part : n.sexagesimal) {
            Ref digit(PyLong_FromString(part.c_str(), nullptr, 10));
            if (!digit) return nullptr;
            Ref shifted(PyNumber_Multiply(whole.get(), sixty.get()));
            if (!shifted) return nullptr;
            whole = Ref(PyNumber_Add(shifted.get(), digit.get()));
            if (!whole) return nullptr;
        }
        return n.negative ? PyNumber_Negative(whole.get()) : whole.release();
    }

    // An int in the schema's forms, or null without an exception.
    PyObject* int_of(std::string_view s, bool v11) {
        const auto n = schema::integer_of(s, version_of(v11));
        return n ? integer(*n) : nullptr;
    }

    PyObject* float_of(std::string_view s, bool v11) {
        const auto d = schema::float_of(s, version_of(v11));
        return d ? PyFloat_FromDouble(*d) : nullptr;
    }

    PyObject* timestamp(const schema::Timestamp& t) {
        PyObject* factory = state.get(Lookup::timestamp);
        if (factory == nullptr) return nullptr;
        Ref fraction(str(t.fraction));
        if (!fraction) return nullptr;
        PyObject* zone = t.has_zone ? PyLong_FromLong(t.zone_minutes) : Py_NewRef(Py_None);
        Ref zone_ref(zone);
        if (!zone_ref) return nullptr;
        Ref time_flag(PyBool_FromLong(t.has_time));
        return PyObject_CallFunction(factory, "iiiOiiiOO", t.year, t.month, t.day, time_flag.get(),
                                     t.hour, t.minute, t.second, fraction.get(), zone);
    }

    // A plain scalar without a tag, resolved by the schema.
    PyObject* plain(std::string_view s, bool v11) {
        const schema::Resolved resolved = schema::resolve(s, version_of(v11));
        switch (static_cast<schema::Kind>(resolved.index())) {
            case schema::Kind::Null: return Py_NewRef(Py_None);
            case schema::Kind::Bool: return PyBool_FromLong(std::get<bool>(resolved));
            case schema::Kind::Int: return integer(std::get<schema::Integer>(resolved));
            case schema::Kind::Float: return PyFloat_FromDouble(std::get<double>(resolved));
            case schema::Kind::Timestamp: {
                // A date that does not exist (`2001-02-30`) stays text.
                if (PyObject* v = timestamp(std::get<schema::Timestamp>(resolved))) return v;
                if (!PyErr_ExceptionMatches(PyExc_ValueError)) return nullptr;
                PyErr_Clear();
                return str(s);
            }
            case schema::Kind::Str: break;
        }
        return str(s);
    }

    // A scalar node's data: by its tag, else by the schema when plain.
    PyObject* scalar(const Node& node, bool v11) {
        const auto& value = node.value();
        const std::string_view s = value ? std::string_view(*value) : std::string_view();
        const auto& tag = node.extras.get().tag;
        if (!tag) return node.style == NodeStyle::Plain ? plain(s, v11) : str(s);
        const std::string_view full = tag->full;
        if (full == "!") return str(s);
        if (!full.starts_with(tag_prefix)) return tagged(node, full, Ref(str(s)));
        const std::string_view name = full.substr(tag_prefix.size());
        PyObject* out = nullptr;
        if (name == "str") return str(s);
        if (name == "null") {
            if (schema::is_null(s)) return Py_NewRef(Py_None);
        } else if (name == "bool") {
            if (const auto b = schema::bool_of(s, version_of(v11))) return PyBool_FromLong(*b);
        } else if (name == "int") {
            out = int_of(s, v11);
        } else if (name == "float") {
            out = float_of(s, v11);
            if (out == nullptr && !PyErr_Occurred()) {
                Ref whole(int_of(s, v11));
                if (whole) out = PyNumber_Float(whole.get());
            }
        } else if (name == "timestamp") {
            if (const auto t = schema::timestamp_of(s)) {
                out = timestamp(*t);
                if (out == nullptr && PyErr_ExceptionMatches(PyExc_ValueError)) PyErr_Clear();
            }
        } else if (name == "binary") {
            PyObject* decode = state.get(Lookup::binary);
            if (decode == nullptr) return nullptr;
            Ref text(str(s));
            if (!text) return nullptr;
            out = PyObject_CallOneArg(decode, text.get());
            if (out == nullptr && PyErr_ExceptionMatches(PyExc_ValueError)) PyErr_Clear();
        } else {
            return tagged(node, full, Ref(str(s)));
        }
        if (out != nullptr || PyErr_Occurred()) return out;
        fail("cannot read this scalar as !!" + std::string(name), node);
        return nullptr;
    }

    // A `Tagged` of a node whose tag the loader has no rule for; an error
    // when unknown tags are refused.
    PyObject* tagged(const Node& node, std::string_view tag, Ref value) {
        if (!value) return nullptr;
        if (unknown_tags_fail) {
            fail("could not determine a constructor for the tag '" + std::string(tag) + "'", node);
            return nullptr;
        }
        Ref tag_text(str(tag));
        if (!tag_text) return nullptr;
        return PyObject_CallFunctionObjArgs(tagged_class, tag_text.get(), value.get(), nullptr);
    }

    // The caller's function for `node`'s tag, or null (also with an
    // exception set when the lookup failed). A function found is kept in
    // `hooks`, so that it outlives a change of `tags` while it runs.
    PyObject* hook_of(const Node& node) {
        if (tags == nullptr) return nullptr;
        const auto& tag = node.extras.get().tag;
        if (!tag || tag->full == "!") return nullptr;
        Ref key(str(tag->full));
        if (!key) return nullptr;
        PyObject* found = PyDict_GetItemWithError(tags, key.get());
        if (found == nullptr) return nullptr;
        hooks.emplace_back(Py_NewRef(found));
        return found;
    }
    std::vector<Ref> hooks{};

    // ---- keys --------------------------------------------------------------

    // A hashable form of `value` for a key: a list becomes a tuple, a dict a
    // frozen mapping, a set a frozenset, through what they hold; other
    // objects stay. Walks with an explicit stack; a structure that contains
    // itself cannot be frozen.
    PyObject* freeze(PyObject* value) {
        if (!PyList_Check(value) && !PyDict_Check(value) && !PyAnySet_Check(value))
            return Py_NewRef(value);
        struct Step {
            PyObject* object;  // borrowed
            Ref items;         // a list snapshot of what it holds (for a dict: its items)
            Ref done;          // the frozen children so far
            Py_ssize_t next = 0;
        };
        if (const auto it = frozen.find(value); it != frozen.end()) {
            return Py_NewRef(it->second.second.get());
        }
        std::vector<Step> stack;
        std::unordered_map<PyObject*, bool> open;
        Ref result;
        const auto enter = [&](PyObject* object) -> bool {
            if (open.count(object) || unfinished.count(object)) {
                PyErr_SetString(PyExc_ValueError, "a recursive structure cannot be a mapping key");
                return false;
            }
            Step step{object, Ref(), Ref(PyList_New(0))};
            if (PyDict_Check(object)) {
                step.items = Ref(PyDict_Items(object));
            } else {
                step.items = Ref(PySequence_List(object));
            }
            if (!step.items || !step.done) return false;
            open.emplace(object, true);
            stack.push_back(std::move(step));
            return true;
        };
        if (!enter(value)) return nullptr;
        while (!stack.empty()) {
            Step& step = stack.back();
            if (step.next < PyList_GET_SIZE(step.items.get())) {
                PyObject* item = PyList_GET_ITEM(step.items.get(), step.next++);
                // A dict's item: its key is hashable already, its value is frozen.
                PyObject* child = PyDict_Check(step.object) ? PyTuple_GET_ITEM(item, 1) : item;
                if (PyList_Check(child) || PyDict_Check(child) || PyAnySet_Check(child)) {
                    if (const auto it = frozen.find(child); it != frozen.end()) {
                        if (PyList_Append(step.done.get(), it->second.second.get()) != 0)
                            return nullptr;
                        continue;
                    }
                    --step.next;  // comes back when the child is done
                    if (!enter(child)) return nullptr;
                    continue;
                }
                if (PyList_Append(step.done.get(), child) != 0) return nullptr;
                continue;
            }
            Ref made;
            if (PyDict_Check(step.object)) {
                Ref dict(PyDict_New());
                if (!dict) return nullptr;
                const Py_ssize_t n = PyList_GET_SIZE(step.items.get());
                for (Py_ssize_t i = 0; i < n; ++i) {
                    PyObject* key = PyTuple_GET_ITEM(PyList_GET_ITEM(step.items.get(), i), 0);
                    if (PyDict_SetItem(dict.get(), key, PyList_GET_ITEM(step.done.get(), i)) != 0)
                        return nullptr;
                }
                made = Ref(PyObject_CallOneArg(frozen_class, dict.get()));
            } else if (PyList_Check(step.object)) {
                made = Ref(PyObject_CallOneArg(hashed_tuple_class, step.done.get()));
            } else {
                made = Ref(PyFrozenSet_New(step.done.get()));
            }
            if (!made) return nullptr;
            frozen.try_emplace(step.object, Ref(Py_NewRef(step.object)),
                               Ref(Py_NewRef(made.get())));
            open.erase(step.object);
            stack.pop_back();
            if (stack.empty()) {
                result = std::move(made);
            } else {
                Step& parent = stack.back();
                ++parent.next;
                if (PyList_Append(parent.done.get(), made.get()) != 0) return nullptr;
            }
        }
        return result.release();
    }

    // ---- the walk ----------------------------------------------------------

    enum class Shape : std::uint8_t { List, Dict, Set, OMap, Pairs };

    struct Frame {
        NodeIndex node;
        Shape shape;
        std::size_t next = 0;        // children visited
        PyObject* target = nullptr;  // the container to fill (borrowed), made on entry
        PyObject* hook = nullptr;    // the caller's function for its tag (borrowed), or null
    };

    // The data of one document, or null with an exception set. With
    // `objects_out`, also a new list holding each node's object (a mapping
    // key's in its hashable form; None for a node outside the tree).
    PyObject* document(const Document& doc, bool v11, PyObject** objects_out = nullptr) {
        if (objects_out) *objects_out = nullptr;
        frozen.clear();
        if (!doc.root) {
            if (objects_out && !(*objects_out = node_objects(doc, {}))) return nullptr;
            return Py_NewRef(Py_None);
        }
        const std::vector<Node>& nodes = doc.nodes;
        std::vector<PyObject*> objects(nodes.size(), nullptr);    // owned
        std::unordered_map<std::string_view, PyObject*> anchors;  // owned
        struct Release {
            std::vector<PyObject*>& objects;
            std::unordered_map<std::string_view, PyObject*>& anchors;
            ~Release() {
                for (PyObject* o : objects) Py_XDECREF(o);
                for (auto& a : anchors) Py_XDECREF(a.second);
            }
        } release{objects, anchors};
        const auto anchor = [&](const Node& node, PyObject* object) {
            const auto& name = node.extras.get().anchor;
            if (!name) return;
            auto [it, added] = anchors.try_emplace(std::string_view(*name), nullptr);
            Py_XSETREF(it->second, Py_NewRef(object));
        };

        std::vector<Frame> stack;
        // Visits `index` on the way down: a scalar or an alias is done at
        // once, a collection opens a frame.
        const auto enter = [&](NodeIndex index) -> bool {
            const Node& node = nodes[index];
            if (const auto* alias = std::get_if<kind::Alias>(&node.kind)) {
                const auto it = anchors.find(std::string_view(alias->name));
                if (it == anchors.end()) {
                    fail("found undefined alias *" + alias->name, node);
                    return false;
                }
                objects[index] = Py_NewRef(it->second);
                return true;
            }
            PyObject* hook = hook_of(node);
            if (hook == nullptr && PyErr_Occurred()) return false;
            if (std::holds_alternative<kind::Scalar>(node.kind)) {
                if (hook) {
                    const auto& value = node.value();
                    Ref text(str(value ? std::string_view(*value) : std::string_view()));
                    objects[index] = text ? PyObject_CallOneArg(hook, text.get()) : nullptr;
                } else {
                    objects[index] = scalar(node, v11);
                }
                if (objects[index] == nullptr) return false;
                anchor(node, objects[index]);
                return true;
            }
            const bool is_sequence = std::holds_alternative<kind::Sequence>(node.kind);
            Shape shape = is_sequence ? Shape::List : Shape::Dict;
            bool wrap = false;
            std::string_view full;
            if (const auto& tag = node.extras.get().tag; !hook && tag && tag->full != "!") {
                full = tag->full;
                const std::string_view name = full.starts_with(tag_prefix)
                                                  ? full.substr(tag_prefix.size())
                                                  : std::string_view();
                if (is_sequence && name == "seq") {
                } else if (is_sequence && name == "omap") {
                    shape = Shape::OMap;
                } else if (is_sequence && name == "pairs") {
                    shape = Shape::Pairs;
                } else if (!is_sequence && name == "map") {
                } else if (!is_sequence && name == "set") {
                    shape = Shape::Set;
                } else if (!name.empty() &&
                           (name == "seq" || name == "map" || name == "set" || name == "omap" ||
                            name == "pairs" || name == "str" || name == "int" || name == "float" ||
                            name == "bool" || name == "null" || name == "binary" ||
                            name == "timestamp")) {
                    fail("a " + std::string(is_sequence ? "sequence" : "mapping") +
                             " cannot be !!" + std::string(name),
                         node);
                    return false;
                } else {
                    wrap = true;
                }
            }
            PyObject* target = shape == Shape::List || shape == Shape::Pairs ? PyList_New(0)
                               : shape == Shape::Set                         ? PySet_New(nullptr)
                                                                             : PyDict_New();
            if (target == nullptr) return false;
            objects[index] = wrap ? tagged(node, full, Ref(Py_NewRef(target))) : Py_NewRef(target);
            Py_DECREF(target);  // the node's object holds it
            if (objects[index] == nullptr) return false;
            anchor(node, objects[index]);
            stack.push_back(Frame{index, shape, 0, target, hook});
            unfinished.insert(target);
            return true;
        };

        if (!enter(*doc.root)) return nullptr;
        while (!stack.empty()) {
            Frame& frame = stack.back();
            const Node& node = nodes[frame.node];
            std::size_t count = 0;
            NodeIndex child = 0;
            if (const auto* seq = std::get_if<kind::Sequence>(&node.kind)) {
                count = seq->items.size();
                if (frame.next < count) child = seq->items[frame.next];
            } else {
                const auto& entries = std::get<kind::Mapping>(node.kind).entries;
                count = 2 * entries.size();
                if (frame.next < count) {
                    const Entry& e = entries[frame.next / 2];
                    child = frame.next % 2 == 0 ? e.key : e.value;
                }
            }
            if (frame.next < count) {
                ++frame.next;
                if (!enter(child)) return nullptr;
                continue;
            }
            const Frame done = frame;
            stack.pop_back();
            const bool filled = fill(nodes, done, objects);
            unfinished.erase(done.target);
            if (!filled) return nullptr;
            if (done.hook) {
                // The node's data is what the caller's function makes of the
                // collection; aliases after it give that too.
                PyObject* made = PyObject_CallOneArg(done.hook, done.target);
                if (made == nullptr) return nullptr;
                Py_SETREF(objects[done.node], made);
                anchor(node, made);
            }
        }
        if (objects_out && !(*objects_out = node_objects(doc, objects))) return nullptr;
        return Py_NewRef(objects[*doc.root]);
    }

    // A new list of each node's object from `objects` (borrowed; shorter
    // than the arena when the document has no tree): a mapping key's frozen.
    PyObject* node_objects(const Document& doc, const std::vector<PyObject*>& objects) {
        const std::size_t n = doc.nodes.size();
        Ref out(PyList_New(static_cast<Py_ssize_t>(n)));
        if (!out) return nullptr;
        for (std::size_t i = 0; i < n; ++i) {
            PyObject* o = i < objects.size() && objects[i] ? objects[i] : Py_None;
            PyList_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), Py_NewRef(o));
        }
        for (const Node& node : doc.nodes) {
            const auto* map = std::get_if<kind::Mapping>(&node.kind);
            if (map == nullptr) continue;
            for (const Entry& e : map->entries) {
                PyObject* key = PyList_GET_ITEM(out.get(), static_cast<Py_ssize_t>(e.key));
                PyObject* frozen = freeze(key);
                if (frozen == nullptr) return nullptr;
                PyList_SetItem(out.get(), static_cast<Py_ssize_t>(e.key), frozen);
            }
        }
        return out.release();
    }

    // Fills a collection's container from its children's objects.
    bool fill(const std::vector<Node>& nodes, const Frame& frame, std::vector<PyObject*>& objects) {
        const Node& node = nodes[frame.node];
        PyObject* target = frame.target;
        if (const auto* seq = std::get_if<kind::Sequence>(&node.kind)) {
            for (const NodeIndex item : seq->items) {
                PyObject* value = objects[item];
                if (frame.shape == Shape::List) {
                    if (PyList_Append(target, value) != 0) return false;
                    continue;
                }
                // !!omap and !!pairs: each item a mapping of one pair.
                if (!PyDict_Check(value) || PyDict_GET_SIZE(value) != 1) {
                    fail("an item of !!omap or !!pairs must be a mapping of one pair", nodes[item]);
                    return false;
                }
                Py_ssize_t pos = 0;
                PyObject *k = nullptr, *v = nullptr;
                PyDict_Next(value, &pos, &k, &v);
                if (frame.shape == Shape::OMap) {
                    if (PyDict_SetItem(target, k, v) != 0) return false;
                } else {
                    Ref pair(PyTuple_Pack(2, k, v));
                    if (!pair || PyList_Append(target, pair.get()) != 0) return false;
                }
            }
            return true;
        }
        const auto& entries = std::get<kind::Mapping>(node.kind).entries;
        bool merges = false;
        // Explicit keys first, into the target itself unless merges come
        // before them.
        // (Merge keys apply to plain mappings; in a !!set, `<<` is a member.)
        for (const Entry& e : entries) merges = merges || (e.merge && frame.shape == Shape::Dict);
        Ref explicit_keys(merges ? PyDict_New() : Py_NewRef(target));
        if (!explicit_keys) return false;
        PyObject* into = explicit_keys.get();
        const auto size_of = [](PyObject* c) {
            return PySet_Check(c) ? PySet_GET_SIZE(c) : PyDict_GET_SIZE(c);
        };
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const Entry& e = entries[i];
            if (e.merge && merges) continue;
            Ref key(freeze(objects[e.key]));
            if (!key) {
                if (!PyErr_ExceptionMatches(PyExc_ValueError)) return false;
                PyErr_Clear();
                fail("a recursive structure cannot be a mapping key", nodes[e.key]);
                return false;
            }
            const Py_ssize_t before = size_of(into);
            const int status = PySet_Check(into)
                                   ? PySet_Add(into, key.get())
                                   : PyDict_SetItem(into, key.get(), objects[e.value]);
            if (status != 0) {
                if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
                PyErr_Clear();
                fail("found an unhashable mapping key", nodes[e.key]);
                return false;
            }
            if (size_of(into) == before && !allow_duplicate_keys)
                return duplicate(nodes, entries, i, objects, key.get());
        }
        if (!merges) return true;
        // Merged pairs: earlier sources win over later ones, explicit keys
        // over all.
        for (const Entry& e : entries) {
            if (!e.merge) continue;
            PyObject* value = objects[e.value];
            const auto merge_one = [&](PyObject* source, const Node& at) -> bool {
                if (!PyDict_Check(source)) {
                    fail("a merge key takes a mapping or a sequence of mappings", at);
                    return false;
                }
                Py_ssize_t pos = 0;
                PyObject *k = nullptr, *v = nullptr;
                while (PyDict_Next(source, &pos, &k, &v)) {
                    if (PyDict_SetDefault(target, k, v) == nullptr) return false;
                }
                return true;
            };
            if (PyList_Check(value)) {
                const Py_ssize_t n = PyList_GET_SIZE(value);
                for (Py_ssize_t j = 0; j < n; ++j) {
                    if (!merge_one(PyList_GET_ITEM(value, j), nodes[e.value])) return false;
                }
            } else if (!merge_one(value, nodes[e.value])) {
                return false;
            }
        }
        return PyDict_Update(target, into) == 0;
    }

    // Raises the duplicate-key error for entry `i`, naming where an equal key
    // was first seen.
    bool duplicate(const std::vector<Node>& nodes, const std::vector<Entry>& entries, std::size_t i,
                   std::vector<PyObject*>& objects, PyObject* key) {
        const Node* first = nullptr;
        for (std::size_t j = 0; j < i && first == nullptr; ++j) {
            Ref other(freeze(objects[entries[j].key]));
            if (!other) return false;
            const int same = PyObject_RichCompareBool(other.get(), key, Py_EQ);
            if (same < 0) return false;
            if (same) first = &nodes[entries[j].key];
        }
        Ref shown(PyObject_Repr(key));
        if (!shown) return false;
        const char* text = PyUnicode_AsUTF8(shown.get());
        if (text == nullptr) return false;
        fail(std::string("found duplicate key ") + text, nodes[entries[i].key], key, first);
        return false;
    }
};

bool is_v11(const Document& doc, int version) {
    return version == 11 ||
           (version == 0 && doc.version && doc.version->first == 1 && doc.version->second == 1);
}

}  // namespace

Ref build_node_data(State& state, const std::vector<Document>& documents, PyObject* source,
                    PyObject* name, bool allow_duplicate_keys) {
    Builder builder{state, source, name, allow_duplicate_keys};
    if (!builder.ready()) return Ref();
    const CollectorPause pause(state);
    Ref out(PyList_New(static_cast<Py_ssize_t>(documents.size())));
    if (!out) return out;
    for (std::size_t i = 0; i < documents.size(); ++i) {
        PyObject* objects = nullptr;
        Ref data(builder.document(documents[i], is_v11(documents[i], 0), &objects));
        Ref held(objects);
        if (!data) return Ref();
        PyObject* pair = PyTuple_Pack(2, data.get(), held.get());
        if (pair == nullptr) return Ref();
        PyList_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), pair);
    }
    return out;
}

bool holds_no_data(const Document& doc) {
    return !doc.root && !doc.explicit_start && !doc.explicit_end && !doc.version &&
           doc.tag_directives.empty();
}

Ref build_document_data(State& state, const Document& document, const DataOptions& options) {
    Builder builder{state,        options.source,
                    options.name, options.allow_duplicate_keys,
                    options.tags, options.unknown_tags_fail,
                    options.texts};
    if (!builder.ready()) return Ref();
    const CollectorPause pause(state);
    return Ref(builder.document(document, is_v11(document, options.version)));
}

}  // namespace brackle_py
