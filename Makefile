# The README's two commands, `make test` and `make run`, each do their own set-up.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
# The suites mostly wait on lines at serial speed, so twice as many run at once as processors.
TEST_JOBS ?= $(shell echo $$(( $$(nproc) * 2 )))
FUZZ_SECONDS ?= 60

.PHONY: all deps build test test-plain test-asan test-tsan test-fuzz test-package fuzz bench soak run \
        package format format-check lint clean windows test-windows run-windows mutate

all: build

deps:
	@scripts/install-deps

# The five builds are the configure presets of CMakePresets.json, each in its own folder.
build/build.ninja: | deps
	cmake --preset plain

build: build/build.ninja
	cmake --build build -j $(JOBS)

test-plain: build
	cd build && ctest --output-on-failure -j $(TEST_JOBS)

build-asan/build.ninja: | deps
	cmake --preset asan

test-asan: build-asan/build.ninja
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    ctest --output-on-failure -j $(TEST_JOBS)

# The serial link's threads are checked under ThreadSanitizer; only tests labelled tsan run.
build-tsan/build.ninja: | deps
	cmake --preset tsan

test-tsan: build-tsan/build.ninja
	cmake --build build-tsan -j $(JOBS) --target tsan_tests
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	    setarch $$(uname -m) -R ctest --output-on-failure -L tsan

build-fuzz/build.ninja: | deps
	cmake --preset fuzz

fuzz-build: build-fuzz/build.ninja
	cmake --build build-fuzz -j $(JOBS) --target fuzzers

# Each fuzz target runs FUZZ_SECONDS over a scratch copy of its seed corpus.
test-fuzz: FUZZ_SECONDS = 10
test-fuzz fuzz: fuzz-build
	@set -e; for f in build-fuzz/fuzz/*; do \
	    name=$$(basename $$f); work=build-fuzz/corpus-work/$$name; \
	    mkdir -p $$work; cp -r tests/fuzz/corpus/$$name/. $$work/ 2>/dev/null || true; \
	    echo "fuzz: $$name for $(FUZZ_SECONDS) s"; \
	    $$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=0 -artifact_prefix=build-fuzz/ \
	        $$work > build-fuzz/$$name.log 2>&1 || { tail -n 40 build-fuzz/$$name.log; exit 1; }; \
	    grep -E '^(Done|#[0-9]+ *DONE)' build-fuzz/$$name.log | tail -n 1 || true; \
	done

# The Debian package of the plain build, orv-os-update_<version>_<arch>.deb, left here for
# `sudo apt install ./orv-os-update_*.deb`, with the Ansible collection's tarball
# orv-plc-<version>.tar.gz beside it; and when the cross build exists (make windows), the
# Windows zip orv-os-update-<version>-windows-x64.zip and the MSI of the same name beside it.
package: build
	rm -f orv-os-update_*.deb build/orv-os-update_*.deb orv-os-update-*-windows-x64.zip \
	    build-windows/orv-os-update-*-windows-x64.zip orv-os-update-*-windows-x64.msi \
	    build-windows/orv-os-update-*-windows-x64.msi orv-plc-*.tar.gz
	cd build && cpack -G DEB
	mv build/orv-os-update_*.deb .
	cp build/packaging/ansible/orv-plc-*.tar.gz .
	@if [ -f build-windows/build.ninja ]; then \
	    set -e; cmake --build build-windows -j $(JOBS) --target all orv_msi; \
	    (cd build-windows && cpack -G ZIP); \
	    mv build-windows/orv-os-update-*-windows-x64.zip build-windows/orv-os-update-*-windows-x64.msi .; \
	fi

# The package checked as Debian's tools check one, and its programs run from an unpacked copy;
# the Windows zip too, when there is one, and the MSI installed and removed under Wine.
test-package: package
	@scripts/check-package

# The Windows build: cross-compiled with MinGW-w64 into build-windows/, its tests run by CTest
# under Wine in a prefix kept in build-windows/wine/.
build-windows/build.ninja: | deps
	cmake --preset windows

windows: build-windows/build.ninja
	cmake --build build-windows -j $(JOBS)

# Beside Wine the tests run Linux programs of the plain build: the serial tests' pseudo-terminal
# peer, and the end-to-end test of orv-flash.exe with the PLC simulator and the image tool.
WINDOWS_TEST_HELPERS := serial_pty_peer flash_wine_test

# The GDI gauge's test compares it with the Qt gauge's pictures, which the Linux build draws.
# Wine needs an X display for windows, and a Wine server started without one keeps a desktop
# without one: so the whole run shares a private Xvfb, after any earlier server has ended.
test-windows: windows build/build.ninja
	cmake --build build -j $(JOBS) --target gauge_reference_images $(WINDOWS_TEST_HELPERS)
	[ ! -d build-windows/wine ] || WINEPREFIX=$(CURDIR)/build-windows/wine /usr/lib/wine/wineserver -w
	cd build-windows && xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j $(JOBS)

# The sources as .clang-format writes them, and clang-tidy with .clang-tidy over the program's
# files that the plain build compiles (src, tools, bench; `scripts/lint tests` does the tests in
# 3.5 min more): each fails on the first file or finding it objects to.
format-check: | deps
	@files=$$(git ls-files '*.cpp' '*.h'); clang-format --dry-run --Werror $$files \
	    && echo "format-check: $$(wc -w <<<"$$files") files as .clang-format writes them"

lint: format-check build
	@scripts/lint src tools bench

test: lint test-plain test-asan test-tsan test-fuzz test-windows test-package
	@echo "make test: all suites passed"

# Then the Windows build's benchmarks under Wine, when there is a Windows build; the serial one
# needs the pseudo-terminal peer of the Linux build.
bench: build
	@set -e; for b in build/bench/*; do [ -f "$$b" ] && [ -x "$$b" ] || continue; \
	    echo "== $$(basename $$b)"; "$$b"; done
	@[ ! -f build-windows/build.ninja ] || cmake --build build-windows -j $(JOBS) >/dev/null
	@[ ! -f build-windows/build.ninja ] || cmake --build build -j $(JOBS) --target serial_pty_peer >/dev/null
	@scripts/windows-benches

soak: build
	@set -e; for s in build/soak/*; do [ -f "$$s" ] && [ -x "$$s" ] || continue; \
	    echo "== $$(basename $$s)"; "$$s"; done

# Not part of make test: each one-line fault of tests/mutations.txt applied alone to the sources,
# then the build and the fast suites; prints which faults no test noticed.
mutate: build
	@scripts/mutate --build build

run: build
	@scripts/run-demo

# The same with orv-os-update.exe under Wine, the simulator's terminal mapped as COM8.
run-windows: build windows
	@scripts/run-demo-windows

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build build-asan build-tsan build-fuzz build-windows orv-os-update_*.deb \
	    orv-os-update-*-windows-x64.zip orv-os-update-*-windows-x64.msi orv-plc-*.tar.gz
