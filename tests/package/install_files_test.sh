#!/bin/bash
# Checks, without installing, what an installation of Orvane puts beside
# the programs: the desktop entry and AppStream metainfo validate, the
# manual pages document every command and option that --help lists, the
# shell completion answers from the command table and the data directory,
# and the Debian package of the build passes lintian.
#
#   install_files_test.sh CHECK SOURCE_DIR BUILD_DIR
set -euo pipefail
check=$1 src=$2 build=$3
cli=$build/orvane-cli
window=$build/app/orvane
id=io.github.orvane.Orvane
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

case $check in
desktop)
  desktop-file-validate "$src/resources/$id.desktop"
  grep -q '^Name\[zh_CN\]=' "$src/resources/$id.desktop" || fail "no Chinese name"
  grep -q '^Comment\[zh_CN\]=' "$src/resources/$id.desktop" || fail "no Chinese comment"
  metainfo=$build/share/metainfo/$id.metainfo.xml
  appstreamcli validate --no-net "$metainfo"
  for field in summary p caption; do
    grep -q "<$field xml:lang=\"zh_CN\">" "$metainfo" || fail "no Chinese $field"
  done
  version=$("$cli" --version | cut -d' ' -f2)
  grep -q "<release version=\"$version\"" "$metainfo" || fail "no release $version"
  ;;

man)
  # Every command and every option --help names is in the page, and man
  # renders the page without a warning.
  for program in "$cli" "$window"; do
    page=$build/share/$(basename "$program").1
    rendered=$(MANWIDTH=200 man --warnings -E UTF-8 -l "$page" 2>"$work/warnings")
    [ ! -s "$work/warnings" ] || fail "$(cat "$work/warnings")"
    QT_QPA_PLATFORM=offscreen "$program" --help >"$work/help"
    words=$(grep -oE -- '(^|[ [|])--?[a-z][a-z-]*' "$work/help" | tr -d ' [|' | sort -u)
    if [ "$program" = "$cli" ]; then
      words="$words $(sed -n 's/^  \([a-z][a-z-]*\)\( .*\)\?$/\1/p' "$work/help")"
    fi
    for word in $words; do
      grep -qE -- "(^|[^a-z-])$word([^a-z-]|$)" <<<"$rendered" ||
        fail "$(basename "$program")(1) lacks $word"
    done
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES ENVIRONMENT; do
      grep -q "^$section" <<<"$rendered" || fail "$(basename "$program")(1) lacks $section"
    done
  done
  ;;

completion)
  data=$work/data
  "$cli" --data-dir "$data" add ftp.example.org --anonymous >/dev/null
  "$cli" --data-dir "$data" add files.example.net --user bob --password x >/dev/null
  "$cli" --data-dir "$work/other" add other.example --anonymous >/dev/null
  # The completion function's answers to a command line, one a line, with
  # or without the bash-completion library loaded.
  complete_line() {
    PATH="$build:$PATH" bash -c '
      [ "$1" = with-library ] && source /usr/share/bash-completion/bash_completion
      source "$2"; shift 2
      COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
      COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
      _orvane_cli; printf "%s\n" "${COMPREPLY[@]}"' _ "$library" \
      "$build/share/bash-completion/orvane-cli" "$@" | sort | paste -sd' '
  }
  expect() {
    local want=$1; shift
    local got; got=$(complete_line "$@")
    [ "$got" = "$want" ] || fail "orvane-cli $* -> '$got', expected '$want'"
  }
  for library in plain with-library; do
    expect "" orvane-cli --data-dir "$data" no-such-command ''
    expect "delete" orvane-cli de
    expect "--data-dir" orvane-cli --da
    expect "files.example.net@bob ftp.example.org" orvane-cli --data-dir "$data" tree ''
    expect "ftp.example.org" orvane-cli --data-dir "$data" --json update ft
    expect "other.example" orvane-cli --data-dir "$work/other" delete ''
    expect "" orvane-cli --data-dir "$data" tree ftp.example.org ''
    expect "--anonymous --anonymous-update" orvane-cli edit k --an
    expect "off on" orvane-cli edit k --anonymous-update ''
    expect "added" orvane-cli changes --kind a
    expect "journal-megabytes journal-updates listing-entries update-entries" orvane-cli settings ''
    expect "--keys" orvane-cli sites --k
    expect "files.example.net@bob ftp.example.org" orvane-cli --data-dir "$data" edit --port 21 ''
  done
  ;;

fish)
  script=$build/share/fish/orvane-cli.fish
  fish --no-execute "$script"
  "$cli" --data-dir "$work/data" add ftp.example.org --anonymous >/dev/null
  got=$(PATH="$build:$PATH" fish -c "source $script; complete -C 'orvane-cli --data-dir $work/data tree '" |
    cut -f1 | paste -sd' ')
  [ "$got" = "ftp.example.org" ] || fail "fish: '$got'"
  ;;

package)
  # package.sh fails when lintian reports an error.
  deb=$("$src/tools/package.sh" --build-dir "$build" --output "$work")
  dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/files"
  for file in /usr/bin/orvane /usr/bin/orvane-cli /usr/bin/orvane-cli-online \
      /usr/share/man/man1/orvane.1.gz /usr/share/orvane/help_zh.pdf \
      /usr/share/man/man1/orvane-cli.1.gz /usr/share/bash-completion/completions/orvane-cli \
      /usr/share/fish/vendor_completions.d/orvane-cli.fish \
      /usr/share/applications/$id.desktop /usr/share/metainfo/$id.metainfo.xml \
      /usr/share/icons/hicolor/scalable/apps/$id.svg /usr/share/orvane/help.pdf \
      /usr/share/doc/orvane/copyright /usr/share/doc/orvane/changelog.gz; do
    grep -qx "$file" "$work/files" || fail "the package lacks $file"
  done
  grep -v '^/usr' "$work/files" | grep -vx '/' && fail "files outside /usr"
  depends=$(dpkg-deb -f "$deb" Depends)
  for library in libcurl4 libqt6widgets6 libqt6dbus6 libqt6network6 libqt6svg6 qt6-qpa-plugins libc6; do
    grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
  done
  ;;

*) fail "no check $check" ;;
esac
