# Quick start: `make run FILE=x.pdf` and `make test`. Both install what is missing first.
JOBS ?= $(shell nproc)
BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FILE ?=

.PHONY: deps configure build test asan-configure asan-build test-asan tsan-configure tsan-build test-tsan run clean fuzz

deps:
	@bash scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

asan-configure: deps
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFOLIVO_SANITIZE=ON >/dev/null

asan-build: asan-configure
	@cmake --build $(ASAN_BUILD) -j $(JOBS)

test-asan: asan-build
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS)

# The tests that read one document on many threads (label "threads"), under ThreadSanitizer;
# any report fails them. Not part of .ci/run. Qt and poppler are not built with ThreadSanitizer:
# Qt's raster engine converts large images in segments on its own thread pool, synchronised by
# futex-based semaphores the sanitizer cannot see, so the allocator and memmove calls made inside
# Qt on those pool threads are not checked (ignore_noninstrumented_modules). Every access our own
# code compiles is; a race wholly inside a Qt call was never visible to this build anyway.
tsan-configure: deps
	@cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFOLIVO_TSAN=ON >/dev/null

tsan-build: tsan-configure
	@cmake --build $(TSAN_BUILD) -j $(JOBS) --target engine_tests document_tests

test-tsan: tsan-build
	cd $(TSAN_BUILD) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1 suppressions=$(CURDIR)/tests/tsan.supp" \
		ctest --output-on-failure -L threads

# Until the application window lands, running shows what the engine reads from the file.
run: build
	@if [ -z "$(FILE)" ]; then echo "usage: make run FILE=document.pdf"; exit 2; fi
	@$(BUILD)/tools/kvprobe info "$(FILE)"

fuzz: deps
	@cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFOLIVO_FUZZ=ON \
		-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target fuzz_object_parser fuzz_document_open fuzz_cmap fuzz_rtf_reader

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) build-fuzz
