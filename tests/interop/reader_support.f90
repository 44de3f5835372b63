! What the three field file readers share: the command line, the report of a failed
! READ, the end-of-file check after the last statement and the stream dump of
! what was read.
module reader_support
  use, intrinsic :: iso_fortran_env, only: error_unit, iostat_end
  implicit none
  integer, parameter :: dp = kind(1.0d0)
  character(len=256) :: msg = ''
  ! The three field components; held here, not in the programs, so that they stay reachable
  ! until the process ends, also after an ERROR STOP (no leak for a leak checker to report).
  real(dp), allocatable :: f1(:,:,:), f2(:,:,:), f3(:,:,:)

contains

  ! FIELD_FILE DUMP_FILE from the command line; exit status 2 on bad usage.
  subroutine get_files(program_name, field_file, dump_file)
    character(len=*), intent(in) :: program_name
    character(len=*), intent(out) :: field_file, dump_file
    if (command_argument_count() /= 2) then
      write(error_unit, '(a)') 'usage: ' // program_name // ' FIELD_FILE DUMP_FILE'
      error stop 2
    end if
    call get_command_argument(1, field_file)
    call get_command_argument(2, dump_file)
  end subroutine get_files

  ! Exit status 3 when an OPEN (statement 0) or a READ failed, naming the statement.
  subroutine check(status, statement)
    integer, intent(in) :: status, statement
    if (status == 0) return
    if (statement == 0) then
      write(error_unit, '(a,i0,a)') 'OPEN failed, iostat ', status, ': ' // trim(msg)
    else
      write(error_unit, '(a,i0,a,i0,a)') 'READ statement ', statement, ' failed, iostat ', &
        status, ': ' // trim(msg)
    end if
    error stop 3
  end subroutine check

  ! The READ after the last statement must meet the end of the file; exit status 4 if not.
  subroutine check_end(status)
    integer, intent(in) :: status
    if (status == iostat_end) return
    write(error_unit, '(a,i0)') 'end-of-file check failed: a further READ gave iostat ', status
    error stop 4
  end subroutine check_end

  ! Opens unit 8 on the dump, a plain stream of the values read; exit status 2 on failure.
  subroutine open_dump(dump_file)
    character(len=*), intent(in) :: dump_file
    integer :: ios
    open(8, file=trim(dump_file), status='replace', form='unformatted', access='stream', &
         action='write', iostat=ios, iomsg=msg)
    if (ios /= 0) then
      write(error_unit, '(a)') 'cannot write the dump: ' // trim(msg)
      error stop 2
    end if
  end subroutine open_dump

end module reader_support
