#!/usr/bin/env bash
# Checks what a release build installs and ships, from its build directory
# (cmake --preset release, built): installs it into a scratch prefix, builds
# tests/package/consumer against the installed package, runs the Linux
# installer it packs and checks that its setup program ran with the packed
# data file, the packed value and the installer's own argument; changes the
# manifest and then a packed file and checks that each change is packed
# again; checks the Windows installer where the Windows stub was installed,
# signs it and checks that the signed installer's envelope is still whole;
# then makes the release archives with CPack, lists them (the Windows one
# holds exactly envelope.exe, reader.exe, README.md, docs/ and SHA256SUMS), checks
# that each archive's SHA256SUMS lists every other file it holds with its
# digest, and builds the consumer once more against the unpacked Linux
# archive. Scratch files go to BUILD/package-check.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: check-package.sh RELEASE_BUILD_DIR}" && pwd)
scratch=$build/package-check
prefix=$scratch/prefix
rm -rf "$scratch"
mkdir -p "$scratch"

fail() {
  echo "check-package: $*" >&2
  exit 1
}

# Checks an unpacked archive's top folder: its SHA256SUMS names every other
# file in it, each once, and every digest there matches (sha256sum -c).
check_sums() {  # TOP_FOLDER
  local listed present
  [ -f "$1/SHA256SUMS" ] || fail "$1 has no SHA256SUMS"
  listed=$(sed 's/^[0-9a-f]\{64\}  //' "$1/SHA256SUMS" | sort)
  present=$(cd "$1" && find . ! -type d ! -path ./SHA256SUMS | sed 's|^\./||' | sort)
  [ "$listed" = "$present" ] ||
    fail "$1/SHA256SUMS lists $(echo $listed), but the archive holds $(echo $present)"
  (cd "$1" && sha256sum --check --strict --quiet SHA256SUMS) || fail "$1/SHA256SUMS does not match its files"
  echo "SHA256SUMS: the digests of all $(wc -l < "$1/SHA256SUMS") other files match"
}

echo "-- install into $prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
for file in bin/envelope share/quillmarrow/stubs/reader share/doc/quillmarrow/README.md \
    share/doc/quillmarrow/docs/format.md lib/cmake/Quillmarrow/QuillmarrowConfig.cmake lib/cmake/Quillmarrow/QuillmarrowConfigVersion.cmake; do
  [ -f "$prefix/$file" ] || fail "the install has no $file"
done
"$here/check-static-reader.sh" "$prefix/share/quillmarrow/stubs/reader"

# The consumer is copied so that its manifest and data file can be changed.
consumer=$scratch/consumer
cp -R "$here/consumer" "$consumer"
configure_consumer() {  # PREFIX BUILD_DIR
  cmake -S "$consumer" -B "$2" -G Ninja -DCMAKE_PREFIX_PATH="$1" >/dev/null
}
echo "-- build tests/package/consumer against it"
configure_consumer "$prefix" "$scratch/consumer-build"
cmake --build "$scratch/consumer-build"
installer=$scratch/consumer-build/consumer-installer.run

# Runs the Linux installer with a private TMPDIR and checks that its setup
# program wrote MARKER as expected. Every reader takes the per-user
# single-instance lock, so a run refused with "Already Running" (another
# installer of this user, such as a concurrent test run) is tried again.
run_installer() {  # EXPECTED_GREETING EXPECTED_PAYLOAD
  local marker=$scratch/marker temp=$scratch/tmp tries=0 status
  rm -rf "$marker" "$temp"
  mkdir "$temp"
  while :; do
    status=0
    TMPDIR=$temp "$installer" "$marker" >"$scratch/out" 2>"$scratch/err" || status=$?
    if [ $status -eq 1 ] && grep -q '^Already Running' "$scratch/err" && [ $((tries += 1)) -lt 20 ]; then
      sleep 3
      continue
    fi
    break
  done
  [ $status -eq 0 ] || fail "the installer exited with $status: $(cat "$scratch/err")"
  [ ! -s "$scratch/err" ] || fail "the installer reported: $(cat "$scratch/err")"
  grep -qx "consumer setup wrote $marker" "$scratch/out" || fail "the setup program did not say it ran: $(cat "$scratch/out")"
  [ -f "$marker" ] || fail "the setup program wrote no $marker"
  local expected
  expected=$(printf 'greeting: %s\n%s' "$1" "$2")
  [ "$(cat "$marker")" = "$expected" ] || fail "the setup program wrote \"$(cat "$marker")\", not \"$expected\""
  [ -z "$(ls -A "$temp")" ] || fail "the installer left its work directory behind: $(ls -A "$temp")"
  echo "the setup program ran: $(tr '\n' ' ' < "$marker")"
}
run_installer "packed by the consumer project" "payload: version 1"

echo "-- a build without changes packs nothing"
cmake --build "$scratch/consumer-build" | tee "$scratch/rebuild"
if grep -q "Packing" "$scratch/rebuild"; then fail "an unchanged installer was packed again"; fi

echo "-- a changed manifest and a changed packed file are packed again"
sed -i 's/^text = "packed by the consumer project"$/text = "packed again"/' "$consumer/installer.toml"
grep -q '"packed again"' "$consumer/installer.toml" || fail "the manifest was not changed"
cmake --build "$scratch/consumer-build"
run_installer "packed again" "payload: version 1"
printf 'payload: version 2\n' > "$consumer/payload.txt"
cmake --build "$scratch/consumer-build"
run_installer "packed again" "payload: version 2"

windows_stub=$prefix/share/quillmarrow/stubs/reader.exe
if [ -f "$windows_stub" ]; then
  echo "-- the Windows installer"
  windows_installer=$scratch/consumer-build/windows/ConsumerSetup.exe
  [ -f "$windows_installer" ] || fail "the consumer packed no $windows_installer"
  cmp -s -n "$(wc -c < "$windows_stub")" "$windows_stub" "$windows_installer" ||
    fail "$windows_installer does not begin with the installed reader.exe"
  "$prefix/bin/envelope" verify "$windows_installer"
  listed=$("$prefix/bin/envelope" list "$windows_installer")
  echo "$listed"
  grep -qF 'setup.cmd' <<<"$listed" || fail "envelope list shows no setup.cmd in $windows_installer"
  # Releases sign the packed installer; the signature follows the envelope.
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quillmarrow Package Check" \
    -addext extendedKeyUsage=codeSigning -keyout "$scratch/key.pem" -out "$scratch/cert.pem" \
    >"$scratch/signing.log" 2>&1
  osslsigncode sign -certs "$scratch/cert.pem" -key "$scratch/key.pem" -n "Consumer Setup" \
    -in "$windows_installer" -out "$scratch/ConsumerSetup-signed.exe" >>"$scratch/signing.log"
  osslsigncode verify -CAfile "$scratch/cert.pem" -in "$scratch/ConsumerSetup-signed.exe" >>"$scratch/signing.log" ||
    fail "osslsigncode does not verify the signed installer: $(cat "$scratch/signing.log")"
  [ "$(wc -c < "$scratch/ConsumerSetup-signed.exe")" -gt "$(wc -c < "$windows_installer")" ] ||
    fail "the signed installer is no larger than the unsigned one"
  "$prefix/bin/envelope" verify "$scratch/ConsumerSetup-signed.exe"
else
  echo "-- no Windows stub installed: no Windows installer"
fi

echo "-- the release archive"
(cd "$build" && cpack --config CPackConfig.cmake >/dev/null)
archive=$(ls "$build"/Quillmarrow-*.tar.gz)
[ "$(echo "$archive" | wc -l)" -eq 1 ] || fail "not one archive: $archive"
echo "$archive ($(wc -c < "$archive") bytes):"
listing=$(tar tzf "$archive")
echo "$listing"
top=$(basename "$archive" .tar.gz)
for file in bin/envelope share/quillmarrow/stubs/reader lib/cmake/Quillmarrow/QuillmarrowConfig.cmake \
    share/doc/quillmarrow/README.md share/doc/quillmarrow/docs/format.md; do
  grep -qx "$top/$file" <<<"$listing" || fail "the archive has no $top/$file"
done
mkdir "$scratch/unpacked"
tar xzf "$archive" -C "$scratch/unpacked"
check_sums "$scratch/unpacked/$top"
cmp "$build/bin/reader" "$scratch/unpacked/$top/share/quillmarrow/stubs/reader" ||
  fail "the archive's Linux stub is not the release reader"
if [ -f "$windows_stub" ]; then
  cmp "$windows_stub" "$scratch/unpacked/$top/share/quillmarrow/stubs/reader.exe" ||
    fail "the archive's Windows stub is not the installed one"
fi
windows_archive=$build/$(basename "$archive" -Linux-x86_64.tar.gz)-Windows-x86_64.zip
if grep -q '^set(CPACK_GENERATOR "TGZ;ZIP")' "$build/CPackConfig.cmake"; then
  echo "-- the Windows release archive"
  [ -f "$windows_archive" ] || fail "cpack made no $windows_archive"
  windows_top=$(basename "$windows_archive" .zip)
  listing=$(cmake -E tar tf "$windows_archive")
  echo "$windows_archive ($(wc -c < "$windows_archive") bytes):"
  echo "$listing"
  expected=$( (cd "$here/../.." && find docs -type f) | sed "s|^|$windows_top/|" |
    cat - <(printf '%s\n' "$windows_top/README.md" "$windows_top/SHA256SUMS" "$windows_top/envelope.exe" \
      "$windows_top/reader.exe") | LC_ALL=C sort)
  [ "$(grep -v '/$' <<<"$listing" | LC_ALL=C sort)" = "$expected" ] || fail "the Windows archive holds other files than $expected"
  (cd "$scratch/unpacked" && cmake -E tar xf "$windows_archive")
  check_sums "$scratch/unpacked/$windows_top"
  cmp "$windows_stub" "$scratch/unpacked/$windows_top/reader.exe" ||
    fail "the Windows archive's reader.exe is not the installed Windows stub"
  [ -z "$(find "$prefix" -name envelope.exe)" ] || fail "envelope.exe was installed into the Linux layout"
fi
echo "-- build the consumer against the unpacked archive"
rm -rf "$scratch/consumer-build-archive"
configure_consumer "$scratch/unpacked/$top" "$scratch/consumer-build-archive"
cmake --build "$scratch/consumer-build-archive"
installer=$scratch/consumer-build-archive/consumer-installer.run
run_installer "packed again" "payload: version 2"
echo "check-package: all checks passed"
