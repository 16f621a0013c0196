# Set-up and everyday commands. `make run` and `make test` install what is missing first.
PREFIX ?= /usr/local
JOBS ?= $(shell nproc)
SAMPLE := examples/200906051330.tar
DEB_PACKAGES := g++ cmake make libgtest-dev libbenchmark-dev libhowardhinnant-date-dev libsqlite3-dev
FUZZ_PACKAGES := clang libclang-rt-14-dev
FUZZ_SECONDS ?= 60

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# Installs a list of Debian packages when any of them is missing: $(call apt_install,PACKAGES)
define apt_install
	@missing=""; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi
endef

.PHONY: all deps deps-fuzz deps-coverage deps-profile build run test test-release test-asan test-tsan test-fuzz test-faults install check-browser bench build-fuzz fuzz coverage clean

all: build

# Installs the Debian packages that are not there yet.
deps:
	$(call apt_install,$(DEB_PACKAGES))

build: deps
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS)

run: build
	@if [ -f $(SAMPLE) ]; then ./build/release/src/driver/quenfell $(SAMPLE); \
	else ./build/release/src/driver/quenfell || [ $$? -eq 255 ]; fi

test: test-release test-asan test-fuzz

test-release: build
	ctest --preset release -j $(JOBS)

test-asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

# The tests of the code that runs on several threads (the battery study and the join over several
# downloads, the listing's formatters, the worker threads, the streams' bus-error table), with
# ThreadSanitizer; the program the end-to-end tests run is the ThreadSanitizer build too. The two
# tests that only scan a huge input on one thread are left to the other builds. Not part of make
# test: the build alone takes minutes on two cores.
TSAN_TARGETS := quenfell genlog test_e2e test_support test_input test_battery test_report
test-tsan: deps
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS) --target $(TSAN_TARGETS)
	ctest --preset tsan -j $(JOBS)

# Every system call of the report, the listing, the battery study, the join and both pages failing
# in turn: every call of every kind each run makes, with EIO, ENOSPC, ENOMEM and EINTR, and reads
# and writes cut short (tests/faults). make test runs a sample of it.
test-faults: build
	cmake --build --preset release -j $(JOBS) --target test_faults
	QF_FAULT_SWEEP=all ./build/release/tests/test_faults

# The programs, manual pages, bash completion, copyright and changelog, as CMake's install rules
# lay them out (cmake/Packaging.cmake).
install: build
	DESTDIR="$(DESTDIR)" cmake --install build/release --prefix $(PREFIX)

# The Debian package, from the same install rules: a Release build of its own with the usual
# hardening flags, stripped by CPack. Its file list and help screen are checked and lintian must
# find no error; the package is copied to the top of the tree.
.PHONY: deb test-clang
DEB_TOOLS := dpkg-dev file lintian
DEB_CXXFLAGS := -D_FORTIFY_SOURCE=2 -fstack-protector-strong -fstack-clash-protection -fcf-protection
DEB_LDFLAGS := -Wl,-z,relro -Wl,-z,now
deb: deps
	$(call apt_install,$(DEB_TOOLS))
	cmake -S . -B build/deb -DCMAKE_BUILD_TYPE=Release -DQF_TESTS=OFF \
	  -DCMAKE_CXX_FLAGS="$(DEB_CXXFLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(DEB_LDFLAGS)" >/dev/null
	cmake --build build/deb -j $(JOBS)
	rm -f build/deb/quenfell_*.deb
	cd build/deb && cpack -G DEB
	tests/package/check-deb.sh build/deb/quenfell_*.deb
	lintian --fail-on error build/deb/quenfell_*.deb
	cp build/deb/quenfell_*.deb .

# clang with libc++, warnings as errors (cmake/Libcxx.cmake says what is linked and run there).
test-clang: deps
	$(call apt_install,clang libc++-dev libc++abi-dev)
	cmake --preset clang >/dev/null
	cmake --build --preset clang -j $(JOBS)
	ctest --preset clang -j $(JOBS)

# Installs Debian's chromium when it is missing, then lays out the battery study page and the car's
# page of the sample download in it headless, checks that every chart drew, and keeps the screenshots
# as the README's pictures, docs/battery-study.png, docs/car-page.png and the car's page at a phone's
# width and a desktop's, docs/car-page-phone.png and docs/car-page-wide.png, and the pages of eight
# weekly downloads and of ten years of a generated history at both widths, docs/car-page-8w-*.png and
# docs/car-page-10y-*.png.
check-browser: build
	$(call apt_install,chromium)
	QF_SCREENSHOT=$(CURDIR)/docs/battery-study.png QF_CAR_SCREENSHOT=$(CURDIR)/docs/car-page.png \
	  QF_CAR_SCREENSHOT_PHONE=$(CURDIR)/docs/car-page-phone.png QF_CAR_SCREENSHOT_WIDE=$(CURDIR)/docs/car-page-wide.png \
	  QF_CAR_SCREENSHOT_WEEKS_PHONE=$(CURDIR)/docs/car-page-8w-phone.png \
	  QF_CAR_SCREENSHOT_WEEKS_WIDE=$(CURDIR)/docs/car-page-8w-wide.png \
	  QF_CAR_SCREENSHOT_LONG_PHONE=$(CURDIR)/docs/car-page-10y-phone.png \
	  QF_CAR_SCREENSHOT_LONG_WIDE=$(CURDIR)/docs/car-page-10y-wide.png \
	  ./build/release/tests/test_plot --gtest_filter='Browser.*'

# The benchmark scripts read peak memory through /usr/bin/time.
bench: deps
	$(call apt_install,time)
	cmake --preset bench >/dev/null
	cmake --build --preset bench -j $(JOBS)
	./bench/run-all.sh build/bench


deps-fuzz: deps
	$(call apt_install,$(FUZZ_PACKAGES))

deps-coverage: deps
	$(call apt_install,gcovr)

# The sampling profiler that docs/performance.md's profiles come from (`perf record -e cpu-clock`).
deps-profile: deps
	$(call apt_install,linux-perf)

# Every fuzz target, built with clang, libFuzzer, ASan and UBSan.
build-fuzz: deps-fuzz
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS) --target fuzz_targets

# Runs each fuzz target for FUZZ_SECONDS, starting from the seed corpus in fuzz/corpus/<target>, and
# ends with one line per target; fails naming every target that crashed, leaked or did not start.
# FUZZ_TARGETS="fuzz_tar fuzz_db" runs only those.
fuzz: build-fuzz
	fuzz/run-all.sh build/fuzz $(FUZZ_SECONDS)

# Every fuzz target starts and runs its seed corpus once, so that one that cannot is caught here.
test-fuzz: build-fuzz
	fuzz/run-all.sh --check build/fuzz

# Line and branch coverage of src/ over the whole test suite. The failed-write join test runs the
# program under a 2 KiB file-size limit, which also keeps its profile data from being written at
# exit, so it is left to the other builds. Only build/coverage is searched (another build folder may
# hold stale .gcno files); branches taken only when a called function throws are not counted, as the
# program throws none of its own.
COVERAGE_SKIP := ^JoinTest\.FailedWriteLeavesNoPartialLog$$
coverage: deps-coverage
	cmake -S . -B build/coverage -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=--coverage >/dev/null
	cmake --build build/coverage -j $(JOBS)
	find build/coverage -name '*.gcda' -delete
	ctest --test-dir build/coverage -j $(JOBS) --output-on-failure -E '$(COVERAGE_SKIP)'
	gcovr -r . --filter 'src/' --exclude-directories 'build/coverage/CMakeFiles' \
	  --exclude-throw-branches --exclude-unreachable-branches --print-summary build/coverage

clean:
	rm -rf build
