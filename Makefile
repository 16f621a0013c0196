# Set-up and everyday commands. `make run` and `make test` install what is missing first.
PREFIX ?= /usr/local
JOBS ?= $(shell nproc)
SAMPLE := examples/200906051330.tar
DEB_PACKAGES := g++ cmake make libgtest-dev libbenchmark-dev libhowardhinnant-date-dev
FUZZ_PACKAGES := clang libclang-rt-14-dev
FUZZ_SECONDS ?= 60

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps build run test test-release test-asan install bench fuzz clean

all: build

# Installs the Debian packages that are not there yet.
deps:
	@missing=""; for p in $(DEB_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi

build: deps
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS)

run: build
	@if [ -f $(SAMPLE) ]; then ./build/release/src/driver/quenfell $(SAMPLE); \
	else ./build/release/src/driver/quenfell || [ $$? -eq 255 ]; fi

test: test-release test-asan

test-release: build
	ctest --preset release -j $(JOBS)

test-asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

install: build
	install -d $(DESTDIR)$(PREFIX)/bin
	install -m 755 build/release/src/driver/quenfell $(DESTDIR)$(PREFIX)/bin/quenfell

bench: deps
	cmake --preset bench >/dev/null
	cmake --build --preset bench -j $(JOBS)
	./bench/run-all.sh build/bench

clean:
	rm -rf build
