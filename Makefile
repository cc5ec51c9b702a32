# The two commands: `make demo` runs the runner on the bundled example, `make check` runs every
# test on the host, host-asan, host-i686-asan (unit tests and fuzz corpora with a 32-bit size_t)
# and win32 builds and fuzzes every parser for a bounded time. Both install what is missing first.
PRESETS := host host-asan host-i686-asan win32
BUILDS := $(addprefix build-,$(PRESETS) fuzz)
TESTS := $(addprefix test-,$(PRESETS))
JOBS ?= $(shell nproc)
# Tests that compare with a peer reader (7z) fail instead of skipping when it is missing.
export ISORUN_REQUIRE_PEERS := 1

.PHONY: all demo check bootstrap fuzz fuzz-long clean $(BUILDS) $(TESTS)

all: build-host

bootstrap:
	@scripts/bootstrap

# (Static pattern rules: make applies no implicit rule to a phony target.)
$(BUILDS): build-%: bootstrap
	@test -f build/$*/CMakeCache.txt || cmake --preset $* >/dev/null
	@cmake --build build/$* -j$(JOBS)

# Every build comes before any test: the host's end-to-end scripts run the Windows runner too.
# The Wine leg runs one program at a time: its windows share one prefix and one display.
$(TESTS): test-%: $(addprefix build-,$(PRESETS))
	@cd build/$* && ctest --output-on-failure -j$(if $(filter win32,$*),1,$(JOBS))

check: $(TESTS) fuzz
	@echo "make check: all builds passed"

demo: build-host build-win32
	@scripts/demo

# Every fuzz target for a bounded time (FUZZ_SECONDS each) from its checked-in corpus.
fuzz: build-fuzz
	@scripts/fuzz-run

# Every fuzz target for FUZZ_LONG_SECONDS (default an hour) on every core, what it found merged
# into the corpora, and the library's coverage from the corpora (build/coverage/report.txt).
fuzz-long: build-fuzz
	@scripts/fuzz-long

clean:
	rm -rf build
