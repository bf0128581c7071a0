# The front door: installs what is missing, then drives the CMake presets and the scripts.
# make run    build and start Flashwright under Wine with the device simulator
# make test   build both presets, run every test (native, then Wine end to end) and the code checks
# make build  build both presets (build/win32/bin/Flashwright.exe and the simulator beside it);
#             compile_commands.json at the top links to the native build's, for editors
# make package  the release archive and the simulator kit with SHA256SUMS, in build/win32/packages,
#               signed when FLASHWRIGHT_SIGN_PFX is set, and checked against a second build
# make msi    the simulator kit's MSI in build/win32/packages (and the release MSI with
#             FLASHWRIGHT_LIBRARY=path/to/ZRFWUpdateDll.dll), added to SHA256SUMS, each with a
#             winget manifest in build/win32/packages/winget (FLASHWRIGHT_DOWNLOAD_URL)
# make windows-test-kit  the Windows test kit, build/win32/packages/Flashwright-<version>-windows-tests.zip
#             (docs/windows-tests.md): unpack it on a Windows PC and run Run-Tests.ps1 elevated
# make sign   signed copies of both programs in build/win32/signed (FLASHWRIGHT_SIGN_PFX)
# make fuzz   run the fuzz targets for FUZZ_SECONDS each
# make lint   clang-format (check only), the floors, actionlint on the workflows, clang-tidy and cppcheck
# make bench  every benchmark, one table (see BENCHMARKS.md)
# make screenshots  the README's pictures of the window, in docs/screenshots

JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps build build-native build-win32 run test test-native test-win32 lint fuzz package msi bench clean

all: build

deps:
	@bash scripts/install-deps.sh

build: build-native build-win32

build-native: deps
	cmake --preset native >/dev/null
	ln -sfn build/native/compile_commands.json compile_commands.json
	cmake --build --preset native -j $(JOBS)

build-win32: deps
	cmake --preset win32 >/dev/null
	cmake --build --preset win32 -j $(JOBS)

run: build-win32
	bash scripts/run.sh

test: build
	$(MAKE) --no-print-directory -k test-native test-win32 lint

test-native:
	ctest --preset native

test-win32:
	bash scripts/with-display.sh ctest --preset win32

# clang-format (check only), the floors, actionlint on the GitHub workflows, clang-tidy and cppcheck.
lint: build
	bash scripts/lint.sh

# Runs each fuzz target for FUZZ_SECONDS (clang, libFuzzer); the corpus is replayed by make test.
FUZZ_SECONDS ?= 60
fuzz: deps
	bash scripts/fuzz.sh $(FUZZ_SECONDS)

# The release archive and the simulator kit, in build/win32/packages, with SHA256SUMS; the
# programs in them signed when FLASHWRIGHT_SIGN_PFX is set. Then a second build of the same
# source in another folder must give the same archives (scripts/package.sh without --verify
# skips that).
package: deps
	JOBS=$(JOBS) bash scripts/package.sh --verify

# The Windows Installer packages: the simulator kit's, and the release's when FLASHWRIGHT_LIBRARY
# names the vendor's ZRFWUpdateDll.dll (it is not ours to ship). Signed when FLASHWRIGHT_SIGN_PFX is set.
msi: deps
	JOBS=$(JOBS) bash scripts/package.sh --msi

# The Windows test kit: the programs, every test program and the kit's runner, the fixtures and the
# upgrade pair of MSIs in one ZIP, for a Windows PC (docs/windows-tests.md).
.PHONY: windows-test-kit
windows-test-kit: deps
	JOBS=$(JOBS) bash scripts/windows-test-kit.sh

# Signed copies of both programs in build/win32/signed, from the PKCS#12 file named by
# FLASHWRIGHT_SIGN_PFX (password FLASHWRIGHT_SIGN_PASSWORD, time-stamp server
# FLASHWRIGHT_SIGN_TIMESTAMP_URL); without it nothing is signed.
.PHONY: sign
sign: build-win32
	bash scripts/sign.sh build/win32/signed build/win32/bin/Flashwright.exe build/win32/bin/flashwright-cli.exe

# Every benchmark, one table (see BENCHMARKS.md).
bench: deps
	bash scripts/bench.sh

# The README's pictures of the window, one per state, in docs/screenshots (committed).
.PHONY: screenshots
screenshots: build-win32
	bash scripts/screenshots.sh

clean:
	rm -rf build
