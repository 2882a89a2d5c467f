"""`make demo`: every example through the Python package, then one edit.

Each file in examples/ goes through ``brackle.emit(brackle.parse(text))`` and
must come back identical. Then the storefront image in the Kubernetes
manifest gets a new tag, and the unified diff shows that only that line
changed: comments, quoting, blank lines and layout all stay as written.
Last, ``brackle.load`` reads the compose file as plain data, its merge keys
applied, and a duplicate key is reported with both places.
"""

from __future__ import annotations

import difflib
import sys
from pathlib import Path

import brackle
from brackle import Doc, Node

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"


def scalar_values(doc: Doc, key: str):
    """The value nodes of every mapping entry whose key reads `key`."""
    for node in doc.nodes:
        if node.kind != Node.MAPPING:
            continue
        pairs = zip(node.children[0::2], node.children[1::2])
        for k, v in pairs:
            if doc.nodes[k].value == key and doc.nodes[v].kind == Node.SCALAR:
                yield doc.nodes[v]


def main() -> int:
    opts = brackle.EmitOptions()
    failed = False
    for path in sorted(EXAMPLES.iterdir()):
        if path.suffix not in (".yaml", ".yml"):
            continue
        text = path.read_text(encoding="utf-8")
        docs = brackle.parse(text, name=path.name)
        same = brackle.emit(docs, opts) == text
        failed |= not same
        nodes = sum(len(d.nodes) for d in docs)
        print(
            f"{path.name:<32} {len(docs):2} documents {nodes:5} nodes   "
            f"emit(parse(text)) {'identical' if same else 'DIFFERS'}"
        )

    path = EXAMPLES / "kubernetes-deployment.yaml"
    text = path.read_text(encoding="utf-8")
    docs = brackle.parse(text, name=path.name)
    for doc in docs:
        for image in scalar_values(doc, "image"):
            name, _, tag = image.value.rpartition(":")
            image.value = f"{name}:2.9.0"
            image.raw = None  # written anew from its value
    edited = brackle.emit(docs, opts)
    print(f"\nnew image tag in {path.name}:")
    sys.stdout.writelines(
        difflib.unified_diff(
            text.splitlines(keepends=True),
            edited.splitlines(keepends=True),
            fromfile=f"a/{path.name}",
            tofile=f"b/{path.name}",
        )
    )

    path = EXAMPLES / "docker-compose.yml"
    with path.open("rb") as stream:
        data = brackle.load(stream)
    worker = data["services"]["worker"]
    print(f"\nbrackle.load({path.name}): the worker, with <<: *default-app merged in:")
    for key in ("image", "restart", "command", "environment", "depends_on"):
        print(f"  {key}: {worker[key]!r}")
    print(
        f"  the logging settings are one object: "
        f"{worker['logging'] is data['services']['api']['logging']}"
    )
    try:
        brackle.load("name: api\nport: 8000\nname: worker\n", name="service.yaml")
    except brackle.DuplicateKeyError as e:
        print(f"\nbrackle.DuplicateKeyError:\n{e}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
