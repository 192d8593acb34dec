# The window, offscreen, against /dev/ttyACM0: identification, upload and read; then an unplug
# mid-upload gives its report and the window stays usable.
export QT_QPA_PLATFORM=offscreen USBVM_PORT=$ACM USBVM_UDC=$G/UDC
window_tests=$B/tests/usbvm/usbvm_window_tests
start_box --fw 2.30
t=$(now)
$window_tests --gtest_filter='*IdentifiesUploadsAndReads' || fail "the window's visit failed"
figure "window: identification, upload and read: $(since $t) s"
grep -q "the carried image byte for byte" /tmp/box.log || fail "the box did not get the carried image"

# A box at the old version again for the unplug.
kill $BOX_PID
wait $BOX_PID
start_box --fw 2.30
t=$(now)
$window_tests --gtest_filter='*Unplug*' || fail "the window's unplug mid-upload failed"
figure "window: upload, unplug, report, re-plug and a whole visit: $(since $t) s"
result pass "visit through the window; unplug reported, the window usable after it"
