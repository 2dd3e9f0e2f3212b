# The README's two commands are `make demo` and `make test`; both install what they need first.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 20
TSA_SAMPLES  := ../shared/testdata/rfc3161/digicert
TDX_SAMPLES  := ../shared/testdata/tdx-real

RUN_PACKAGES  := g++ cmake make libssl-dev rapidjson-dev python3 faketime
TEST_PACKAGES := $(RUN_PACKAGES) libgtest-dev libbenchmark-dev clang-14 libclang-rt-14-dev
FUZZ_TARGETS  := fuzz_strict_json fuzz_canonical fuzz_receipt fuzz_lab_receipt fuzz_refusal fuzz_chain \
                 fuzz_der_structure fuzz_timestamp_token fuzz_stamp_file fuzz_note fuzz_sigsum fuzz_rekor \
                 fuzz_quote_decode fuzz_quote_verify fuzz_dcap_collateral fuzz_level2 \
                 fuzz_log_evidence fuzz_key_chain fuzz_attested_record

.PHONY: demo test deps-run deps-test build release asan fuzz fuzz-build bench clean

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

build: deps-test
	cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build build/release -j$(JOBS)

release: build
	cd build/release && ctest --output-on-failure -j$(JOBS)

asan: deps-test
	cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DORV_SANITIZE=ON >/dev/null
	cmake --build build/asan -j$(JOBS)
	cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j$(JOBS)

fuzz-build: deps-test
	CXX=clang++-14 cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORV_FUZZ=ON -DORV_TESTS=OFF >/dev/null
	cmake --build build/fuzz -j$(JOBS)

# Each target runs FUZZ_SECONDS from the committed seeds; a finding fails the run.
fuzz: fuzz-build
	@for t in $(FUZZ_TARGETS); do \
	  corpus=build/fuzz/corpus-$$t; mkdir -p $$corpus; \
	  if [ -d fuzz/seeds/$$t ]; then cp -n fuzz/seeds/$$t/* $$corpus/ 2>/dev/null || true; fi; \
	  case $$t in fuzz_receipt|fuzz_lab_receipt|fuzz_refusal) cp -n examples/*.json tests/data/live/*.json $$corpus/;; esac; \
	  if [ $$t = fuzz_level2 ] && [ -d $(TDX_SAMPLES) ]; then \
	    python3 examples/real-tdx/make_inputs.py ../shared build/fuzz/real-tdx && \
	    (cd build/fuzz/real-tdx && cat receipt.json; printf '\0'; cat live-key.hex; printf '\0'; cat snapshot.json; \
	     printf '\0'; cat expected-td.json) > $$corpus/real-quote; \
	  fi; \
	  echo "fuzzing $$t for $(FUZZ_SECONDS) s"; \
	  UBSAN_OPTIONS=suppressions=fuzz/ubsan.supp:halt_on_error=1:print_stacktrace=1 \
	  build/fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -max_len=65536 -print_final_stats=0 \
	    -artifact_prefix=build/fuzz/ $$corpus 2>build/fuzz/$$t.log || { tail -40 build/fuzz/$$t.log; exit 1; }; \
	  tail -1 build/fuzz/$$t.log; \
	done

# Every test: the release build, the sanitizer build, then the short fuzz runs.
test: release asan fuzz
	@echo "all test stages passed"

bench: deps-test
	cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DORV_BENCH=ON >/dev/null
	cmake --build build/bench -j$(JOBS) --target orvelant-verify $(patsubst bench/%.cpp,%,$(wildcard bench/*.cpp))
	@for b in build/bench/*_bench; do $$b; done
	bench/peak_memory.sh build/bench

clean:
	rm -rf build
