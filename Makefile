# The README's two commands. Each does its own set-up on a fresh Debian 12 machine.
JOBS ?= $(shell nproc)
RUN_DIR := build/release
TEST_DIR := build/sanitize
# The flags of the program `make run` builds, with the tests beside it.
OPT_TEST_DIR := build/optimised
# What users and packagers build: Release, so -O3, with debug info for back traces.
OPT_CONFIG := -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g
CTEST := ctest --output-on-failure --no-tests=error -j $(JOBS) --timeout 600

export ASAN_OPTIONS ?= detect_leaks=1:abort_on_error=0:strict_string_checks=1
export UBSAN_OPTIONS ?= print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS ?= suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0

.PHONY: deps run test build-run build-test clean

deps:
	bash scripts/install-deps.sh

build-run: deps
	cmake -S . -B $(RUN_DIR) -G Ninja $(OPT_CONFIG) -DCORVANA_TESTS=OFF -DCORVANA_WERROR=OFF \
	  -DCORVANA_API_BASE_URL=http://127.0.0.1:$${CORVANA_RUN_SERVICE_PORT:-8480}
	cmake --build $(RUN_DIR) -j $(JOBS)

run: build-run
	bash scripts/run-main.sh $(RUN_DIR)

# Our own test builds treat warnings as errors, so a warning the optimiser brings
# up at -O3 stops CI rather than a packager.
build-test: deps
	cmake -S . -B $(TEST_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCORVANA_SANITIZE=ON -DCORVANA_TESTS=ON \
	  -DCORVANA_WERROR=ON
	cmake --build $(TEST_DIR) -j $(JOBS)
	cmake -S . -B $(OPT_TEST_DIR) -G Ninja $(OPT_CONFIG) -DCORVANA_TESTS=ON -DCORVANA_WERROR=ON \
	  -DCORVANA_API_BASE_URL=http://127.0.0.1:8480
	cmake --build $(OPT_TEST_DIR) -j $(JOBS)

# Both runs go to the end, so one failure does not hide the other's.
test: build-test
	@status=0; \
	echo "== tests under the sanitizers ($(TEST_DIR))"; \
	(cd $(TEST_DIR) && $(CTEST)) || status=1; \
	echo "== tests of the optimised build ($(OPT_TEST_DIR))"; \
	(cd $(OPT_TEST_DIR) && $(CTEST)) || status=1; \
	exit $$status

clean:
	rm -rf build
