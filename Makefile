# The README's two commands are `make demo` and `make test`; both install what they need first.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 20
PREFIX ?= /usr/local
FUZZ_LONG_SECONDS ?= 600
FUZZ_LONG_JOBS ?= 1
TSA_SAMPLES  := ../shared/testdata/rfc3161/digicert
TDX_SAMPLES  := ../shared/testdata/tdx-real

RUN_PACKAGES  := g++ cmake make libssl-dev rapidjson-dev python3 faketime
# The fuzzers use the release's own clang: clang-14 on Debian 12, clang-19 on Debian 13.
CLANG_VERSION ?= $(shell . /etc/os-release; case "$$VERSION_ID" in (12) echo 14;; (*) echo 19;; esac)
TEST_PACKAGES := $(RUN_PACKAGES) libgtest-dev libbenchmark-dev clang-$(CLANG_VERSION) \
                 libclang-rt-$(CLANG_VERSION)-dev strace dpkg-dev file pkg-config python3-pytest python3-distributed
COVERAGE_PACKAGES := $(TEST_PACKAGES) gcovr
FUZZ_TARGETS  := fuzz_strict_json fuzz_canonical fuzz_receipt fuzz_lab_receipt fuzz_refusal fuzz_chain \
                 fuzz_der_structure fuzz_timestamp_token fuzz_stamp_file fuzz_note fuzz_sigsum fuzz_rekor \
                 fuzz_quote_decode fuzz_quote_verify fuzz_dcap_collateral fuzz_level2 \
                 fuzz_log_evidence fuzz_key_chain fuzz_attested_record fuzz_saved_response fuzz_token_reencode

.PHONY: demo test deps-run deps-test deps-coverage build release asan fuzz fuzz-long fuzz-build bench coverage install deb check-debian format-check clean

# Installs the Debian packages that are missing when run as root; otherwise names them.
define install_packages
	@missing=""; for p in $(1); do dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "ok installed" || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "installing:$$missing"; apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	  else \
	    echo "missing Debian packages:$$missing"; echo "install them with: sudo apt-get install$$missing"; exit 1; \
	  fi; \
	fi
endef

deps-run:
	$(call install_packages,$(RUN_PACKAGES))

deps-test:
	$(call install_packages,$(TEST_PACKAGES))

deps-coverage:
	$(call install_packages,$(COVERAGE_PACKAGES))

# The verifier alone, run on the bundled examples: a live record and a tampered copy, a lab
# receipt, a refusal, and a three-receipt chain with its signed head.
demo: deps-run
	cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DORV_TESTS=OFF >/dev/null
	cmake --build build/demo -j$(JOBS) --target orvelant-verify
	@echo; echo '$$ orvelant-verify receipt examples/live-record.json --key examples/live-service-key.hex'
	@build/demo/orvelant-verify receipt examples/live-record.json --key examples/live-service-key.hex
	@echo; echo '$$ orvelant-verify receipt examples/live-record-tampered.json --key examples/live-service-key.hex'
	@build/demo/orvelant-verify receipt examples/live-record-tampered.json --key examples/live-service-key.hex; \
	  echo "(exit status $$?: the counter was changed after signing)"
	@echo; echo '$$ orvelant-verify receipt examples/lab-receipt.json --key examples/notary-key.pem'
	@build/demo/orvelant-verify receipt examples/lab-receipt.json --key examples/notary-key.pem
	@echo; echo '$$ orvelant-verify receipt examples/refusal.json --key examples/notary-key.pem'
	@build/demo/orvelant-verify receipt examples/refusal.json --key examples/notary-key.pem
	@echo; echo '$$ orvelant-verify chain examples/receipt-chain.jsonl --key examples/notary-key.pem --head examples/chain-head.json'
	@build/demo/orvelant-verify chain examples/receipt-chain.jsonl --key examples/notary-key.pem --head examples/chain-head.json
	@# Only a real authority's token passes the built-in authorities, and third-party tokens are
	@# not committed: the demo uses the shared folder's real DigiCert token when it is there.
	@echo; if [ -d $(TSA_SAMPLES) ]; then \
	  echo '$$ orvelant-verify timestamp $(TSA_SAMPLES)/ysimonx-file.txt --stamp $(TSA_SAMPLES)/ysimonx-20230304T154859Z.normalized.stamp.json'; \
	  build/demo/orvelant-verify timestamp $(TSA_SAMPLES)/ysimonx-file.txt \
	    --stamp $(TSA_SAMPLES)/ysimonx-20230304T154859Z.normalized.stamp.json; \
	else \
	  echo "timestamp: no real timestamp token here ($(TSA_SAMPLES) is absent); run"; \
	  echo "  orvelant-verify timestamp FILE --stamp FILE.stamp.json with a stamp from DigiCert or Sigstore"; \
	fi
	@# Level 2 around a real Intel TDX quote, at a time inside its collateral window: every Intel
	@# check passes, and the placeholder key is reported as not bound (no real quote binds ours).
	@echo; if [ -d $(TDX_SAMPLES) ]; then \
	  python3 examples/real-tdx/make_inputs.py ../shared build/demo/real-tdx && \
	  echo "$$ faketime '2025-09-15 12:00:00' orvelant-verify key-receipt build/demo/real-tdx/receipt.json --key ... --snapshot ... --expected ..." && \
	  faketime '2025-09-15 12:00:00' build/demo/orvelant-verify key-receipt build/demo/real-tdx/receipt.json \
	    --key build/demo/real-tdx/live-key.hex --snapshot build/demo/real-tdx/snapshot.json \
	    --expected build/demo/real-tdx/expected-td.json; \
	  echo "(exit status $$?: a demonstration around a real quote, not anyone's evidence)"; \
	else \
	  echo "key-receipt: no real Intel quote here ($(TDX_SAMPLES) is absent). A run needs the service's key"; \
	  echo "  receipt, its pinned live key (--key), a saved Intel collateral snapshot (--snapshot) and your"; \
	  echo "  expected-TD file (--expected)."; \
	fi

# The benchmarks are compiled here too (not run), so that an interface change cannot leave one
# behind unnoticed.
build: deps-test
	cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DORV_WERROR=ON -DORV_BENCH=ON >/dev/null
	cmake --build build/release -j$(JOBS)

release: build
	cd build/release && ctest --output-on-failure -j$(JOBS)

asan: deps-test
	cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DORV_SANITIZE=ON -DORV_WERROR=ON >/dev/null
	cmake --build build/asan -j$(JOBS)
	cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j$(JOBS)

fuzz-build: deps-test
	CXX=clang++-$(CLANG_VERSION) cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORV_FUZZ=ON \
	  -DORV_TESTS=OFF -DORV_WERROR=ON >/dev/null
	cmake --build build/fuzz -j$(JOBS)

# Each target runs FUZZ_SECONDS from the committed seeds; a finding fails the run.
fuzz: fuzz-build
	fuzz/run.sh short build/fuzz $(FUZZ_SECONDS) 1 $(FUZZ_TARGETS)

# Each target runs FUZZ_LONG_SECONDS (FUZZ_LONG_JOBS at a time); inputs that reach new coverage
# are kept in fuzz/corpus/, and a table of executions and coverage is printed at the end.
fuzz-long: fuzz-build
	fuzz/run.sh long build/fuzz $(FUZZ_LONG_SECONDS) $(FUZZ_LONG_JOBS) $(FUZZ_TARGETS)

# Every test: the release build, the sanitizer build, then the short fuzz runs.
test: release asan fuzz
	@echo "all test stages passed"

bench: deps-test
	cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DORV_BENCH=ON >/dev/null
	cmake --build build/bench -j$(JOBS) --target orvelant-verify $(patsubst bench/%.cpp,%,$(wildcard bench/*.cpp))
	@for b in build/bench/*_bench; do $$b; done
	bench/peak_memory.sh build/bench

# Line and branch coverage of src/ by the unit and end-to-end tests: a text summary per file and
# per folder, and an HTML report in build/coverage/html/. Counts start from zero on every run.
coverage: deps-coverage
	cmake -S . -B build/coverage -DCMAKE_BUILD_TYPE=Debug -DORV_COVERAGE=ON -DORV_WERROR=ON >/dev/null
	@# The build runs each test binary once to list its tests; those counts are dropped too.
	find build/coverage -name '*.gcda' -delete
	cmake --build build/coverage -j$(JOBS)
	find build/coverage -name '*.gcda' -delete
	@# An instrumented program writes its counts to .gcda files when it exits, so the check that
	@# the program opens only the files it is given cannot hold in this build.
	cd build/coverage && ctest --output-on-failure -j$(JOBS) -E '^UnderStrace\.EveryFileOpenedIsANamedInputOrALibrary$$'
	python3 tools/coverage_report.py build/coverage

# Both programs, their man pages, the problem codes, and the library (liborvelant-verify.so.0,
# its header and pkg-config file) under $(DESTDIR)$(PREFIX).
# Debian's python3 reads modules from lib/python3/dist-packages under /usr only; under another
# prefix from its versioned lib/python3.N/dist-packages.
PYTHON_DIR = $(if $(filter /usr,$(PREFIX)),lib/python3/dist-packages,lib/python3.$(shell /usr/bin/python3 -c 'import sys; print(sys.version_info.minor)' 2>/dev/null)/dist-packages)
install: deps-run
	cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DORV_TESTS=OFF -DORV_PYTHON_DIR=$(PYTHON_DIR) >/dev/null
	cmake --build build/demo -j$(JOBS)
	DESTDIR="$(DESTDIR)" cmake --install build/demo --prefix "$(PREFIX)"

# A Debian package of the same build; dpkg-shlibdeps (dpkg-dev) derives its Depends. Every
# time in it is the commit's, so two builds of one commit give the same bytes
# (tools/check_reproducible_deb.sh shows it).
SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct 2>/dev/null)
deb: deps-run
	$(call install_packages,dpkg-dev file)
	cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DORV_TESTS=OFF -DORV_PYTHON_DIR=lib/python3/dist-packages >/dev/null
	cmake --build build/demo -j$(JOBS)
	cd build/demo && $(if $(SOURCE_DATE_EPOCH),SOURCE_DATE_EPOCH=$(SOURCE_DATE_EPOCH)) cpack -G DEB
	@deb=$$(ls -t build/demo/orvelant-verify_*.deb | head -1); echo "$$deb"; dpkg-deb -f "$$deb" Package Version Depends

# A fresh Debian RELEASE (12 or 13) root made with debootstrap runs the README's commands on a
# clean clone of this commit, then builds, installs and runs the package. Needs root and the
# package mirror; not part of `make test`.
check-debian:
	tools/check_debian.sh $(RELEASE)

# The C++ sources against .clang-format, with the clang-format of Debian 12 (the CI's release).
CLANG_FORMAT ?= clang-format-14
format-check:
	$(call install_packages,$(CLANG_FORMAT))
	$(CLANG_FORMAT) --dry-run --Werror --style=file $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build
