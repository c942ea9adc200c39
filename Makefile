# Thin wrapper around CMake. Outputs go to build/, executables to build/bin/.
BUILD_DIR   ?= build
ASAN_DIR    ?= build/asan
JOBS        ?= 2
FUZZ_DIR    ?= build/fuzz
FUZZ_SECONDS ?= 60
BUILD_TYPE  ?= RelWithDebInfo
CMAKE_FLAGS ?=

.PHONY: all deps configure build test run bench test-sanitize test-threads fuzz soak format clean

all: build

deps:
	@./scripts/install-deps.sh

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

configure: $(BUILD_DIR)/build.ninja

build: deps configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

run: build
	@./scripts/demo.sh $(BUILD_DIR)/bin

bench: build
	@for b in $(BUILD_DIR)/bin/bench_*; do echo "== $$b"; "$$b" --benchmark_min_time=0.2; done

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSELVAR_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(ASAN_DIR) -j $(JOBS)
	ctest --test-dir $(ASAN_DIR) --output-on-failure -j $(JOBS)

# The tests that run threads (the link, the operations, polling, the
# document) under ThreadSanitizer.
TSAN_DIR ?= build/tsan
test-threads: deps
	cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSELVAR_TSAN=ON \
		-DSELVAR_BUILD_BENCH=OFF -DSELVAR_BUILD_GUI=OFF $(CMAKE_FLAGS)
	cmake --build $(TSAN_DIR) -j $(JOBS) --target test_link test_device test_document
	$(TSAN_DIR)/bin/test_link && $(TSAN_DIR)/bin/test_device && $(TSAN_DIR)/bin/test_document

# The libFuzzer targets (clang), each run for FUZZ_SECONDS on seeds taken from
# the description files that the normal build compiled into $(BUILD_DIR)/bin.
fuzz:
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DFUZZ=ON -DSELVAR_BUILD_TESTS=OFF -DSELVAR_BUILD_BENCH=OFF -DSELVAR_BUILD_GUI=OFF $(CMAKE_FLAGS)
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzz_gzip_reader fuzz_parameter_table fuzz_tree fuzz_answer fuzz_svx \
		fuzz_dbf fuzz_log fuzz_archive_chunks
	./fuzz/run-fuzzers.sh $(FUZZ_DIR) $(BUILD_DIR)/bin $(FUZZ_SECONDS)

# The tool against a simulated controller on a faulty line, every value it
# reports checked: SOAK_MINUTES (default 3) long; not part of make test.
soak: build
	@./scripts/soak.sh $(BUILD_DIR)/bin

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR)
