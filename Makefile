# make run   installs what is missing, builds and starts kiln (ARGS='-c "echo hi"' passes arguments)
# make test  installs what is missing, builds and runs every test suite, plain and sanitized,
#            and the end-to-end cases against kiln.exe under Wine
# make windows  cross-builds a statically linked build-win/kiln.exe with mingw-w64
# make dist     packs kiln.exe, LICENSE and the manual as kiln.html into
#               dist/kiln-windows-x86_64.zip
# make install  installs the stripped kiln, its manual page and license under PREFIX
#               (default /usr/local), staged below DESTDIR when set; make uninstall removes
#               exactly the files that the last make install put there
# make bench    runs the benchmarks in bench/ against dash, bash and coreutils
# make fuzz     builds the libFuzzer targets in fuzz/ with clang-16 and runs each for
#               FUZZ_SECONDS (make test runs each for 10 s)
BUILD      ?= build
ASAN_BUILD ?= build-asan
WIN_BUILD  ?= build-win
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := parse pattern run_source win_text console_editor history_file completion
JOBS       ?= $(shell nproc)
ARGS       ?=

.PHONY: all deps build build-asan run test test-plain test-asan clean deps-windows windows dist test-windows bench \
        deps-fuzz build-fuzz fuzz test-fuzz

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja

$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKILN_SANITIZE=ON

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)

run: build
	./$(BUILD)/kiln $(ARGS)

test-plain: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan: build-asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

deps-windows:
	@scripts/install-deps windows

$(WIN_BUILD)/build.ninja: | deps-windows
	cmake -S . -B $(WIN_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DKILN_TESTS=OFF

windows: deps-windows $(WIN_BUILD)/build.ninja
	cmake --build $(WIN_BUILD) -j $(JOBS)

dist: windows
	@scripts/install-deps doc
	rm -rf dist && mkdir -p dist/kiln
	x86_64-w64-mingw32-strip -o dist/kiln/kiln.exe $(WIN_BUILD)/kiln.exe
	cp LICENSE dist/kiln/
	mandoc -Thtml doc/kiln.1 > dist/kiln/kiln.html
	cd dist/kiln && zip -q -X ../kiln-windows-x86_64.zip kiln.exe LICENSE kiln.html
	rm -rf dist/kiln
	@echo "dist/kiln-windows-x86_64.zip"

# The end-to-end cases that hold on Windows, run against kiln.exe under Wine.
test-windows: build windows
	scripts/test-windows $(BUILD) $(WIN_BUILD)

# ---- install and uninstall, through CMake's install rules. CMake's manifest leaves DESTDIR
# out, so the install records the files where they really went, and uninstall removes those.
PREFIX ?= /usr/local
INSTALLED = $(BUILD)/installed-files.txt
.PHONY: install uninstall test-install

install: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target kiln
	DESTDIR='$(DESTDIR)' cmake --install $(BUILD) --strip --prefix '$(PREFIX)'
	sed 's|^|$(abspath $(DESTDIR))|' $(BUILD)/install_manifest.txt > $(INSTALLED)

uninstall:
	@test -f $(INSTALLED) || { echo "uninstall: nothing was installed from $(BUILD)" >&2; exit 1; }
	xargs -r -d '\n' rm -f -- < $(INSTALLED)
	sed -n 's|/LICENSE$$||p' $(INSTALLED) | xargs -r -d '\n' rmdir --ignore-fail-on-non-empty --
	rm $(INSTALLED)

# The manual lints clean and names the builtins that help lists; an install runs and
# renders, and the uninstall after it leaves nothing behind.
test-install: build
	@scripts/install-deps doc
	scripts/test-install $(BUILD)


deps-fuzz:
	@scripts/install-deps fuzz

# The core library is compiled with clang for these too: coverage for the fuzzer, and the
# sanitizers. -O1 keeps the build short and the runs fast enough.
$(FUZZ_BUILD)/build.ninja: | deps-fuzz
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=clang++-16 -DKILN_FUZZ=ON \
	  -DKILN_TESTS=OFF -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g"

build-fuzz: deps-fuzz $(FUZZ_BUILD)/build.ninja
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))

fuzz: build-fuzz
	scripts/fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# A short run of each target from the corpus in fuzz/corpus, so that they keep building and
# finding nothing.
test-fuzz: build-fuzz
	scripts/fuzz $(FUZZ_BUILD) 10 $(FUZZ_TARGETS)

test: test-plain test-asan test-windows test-install test-fuzz

bench: build
	@scripts/install-deps bench
	@for b in bench/*.sh; do echo "### $$b"; $$b $(BUILD)/kiln || exit 1; done

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(WIN_BUILD) $(FUZZ_BUILD) dist
